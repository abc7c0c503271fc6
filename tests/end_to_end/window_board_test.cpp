// What an operator does and sees, end to end: typing the board's port into
// the real window, clicking, and reading the indicators, with the real link
// and timer and the simulated board on a pseudo-terminal.

#include "panel/panel_controls.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/form_look.h"
#include "ui/main_form.h"
#include "ui/spin_control.h"
#include "window_rig.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace relay {
namespace {

constexpr int deadline_ms = 5000;

class window_board_test : public QObject {
    Q_OBJECT

    std::unique_ptr<pty_board> board;
    std::unique_ptr<testing::window_rig> rig;

    const main_form_widgets& ui() const { return rig->window().widgets(); }

    QColor text_colour(int relay) const
    {
        return ui().Label6[static_cast<std::size_t>(relay)]->palette().color(QPalette::Active, QPalette::WindowText);
    }

    bool indicator_reads(int relay, const char* caption, std::uint32_t colour) const
    {
        const auto* label = ui().Label6[static_cast<std::size_t>(relay)];
        return label->text() == QLatin1String(caption) && text_colour(relay) == colour_from_bgr(colour);
    }

    void connect_by_typing_the_port()
    {
        ui().chuankou_num->selectAll();
        QTest::keyClicks(ui().chuankou_num, QString::fromStdString(board->slave_path()));
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QCOMPARE(ui().open_comm->text(), QString("disconnect"));
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red), deadline_ms);
    }

    // Three more frames reach the board; the frame already on the line when
    // the address changed may carry either, the last two carry the new one.
    void next_frames_go_to(int address)
    {
        const auto changed_at = board->frame_count();
        QTRY_VERIFY_WITH_TIMEOUT(board->frame_count() >= changed_at + 3, deadline_ms);
        const auto log = board->received_frames();
        for (std::size_t i = log.size() - 2; i < log.size(); ++i)
            QCOMPARE(int(log[i].bytes[1]), address);
    }

private slots:
    // Every case runs twice: with the session on the window's thread, as
    // the other window tests have it, and on a thread of its own, as
    // relay-panel runs it.
    void initTestCase_data()
    {
        QTest::addColumn<bool>("threaded");
        QTest::newRow("session on the window's thread") << false;
        QTest::newRow("session on a thread of its own") << true;
    }

    void init()
    {
        QFETCH_GLOBAL(bool, threaded);
        board = std::make_unique<pty_board>();
        rig = std::make_unique<testing::window_rig>(threaded);
        rig->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->window()));
    }

    void cleanup()
    {
        rig.reset();
        board.reset();
    }

    void relay_2_switched_by_a_click_then_the_board_falls_silent()
    {
        connect_by_typing_the_port();

        QTest::mouseClick(ui().open[1], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(board->relays()[1], deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "on", colour_green), deadline_ms);
        QVERIFY(indicator_reads(0, "off", colour_red));
        QVERIFY(indicator_reads(2, "off", colour_red));
        QVERIFY(indicator_reads(3, "off", colour_red));

        board->set_silent(true);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(0, "state", colour_black) && indicator_reads(1, "state", colour_black)
                                     && indicator_reads(2, "state", colour_black)
                                     && indicator_reads(3, "state", colour_black),
                                 deadline_ms);
        QVERIFY2(ui().Label6[1]->toolTip().contains("stopped answering"), qPrintable(ui().Label6[1]->toolTip()));
        // Still connected: the panel keeps asking, and the board's return shows at once.
        QCOMPARE(ui().open_comm->text(), QString("disconnect"));
        board->set_silent(false);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "on", colour_green), deadline_ms);
    }

    void all_on_and_all_off_reach_every_relay()
    {
        connect_by_typing_the_port();
        QTest::mouseClick(ui().openall, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(0, "on", colour_green) && indicator_reads(3, "on", colour_green),
                                 deadline_ms);
        QCOMPARE(board->relays(), (std::array<bool, relay_count>{true, true, true, true}));
        QTest::mouseClick(ui().closeall, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(0, "off", colour_red) && indicator_reads(3, "off", colour_red),
                                 deadline_ms);
        QCOMPARE(board->relays(), (std::array<bool, relay_count>{false, false, false, false}));
    }

    void the_address_typed_while_polling_goes_out_in_the_next_frames()
    {
        connect_by_typing_the_port();
        ui().add->selectAll();
        QTest::keyClicks(ui().add, "7");
        QCOMPARE(ui().add->text(), QString("7"));
        next_frames_go_to(7);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red), deadline_ms);
    }

    void the_address_arrow_rewrites_the_field_and_the_frames()
    {
        connect_by_typing_the_port();
        auto* spin = ui().VScroll1;
        QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, spin->height() / 4));
        // The logic writes the field; the window shows it before the click returns.
        QCOMPARE(ui().add->text(), QString("2"));
        next_frames_go_to(2);
    }

    void a_port_that_cannot_be_opened_is_told_in_a_message()
    {
        ui().chuankou_num->selectAll();
        QTest::keyClicks(ui().chuankou_num, "/dev/no-such-relay-board");
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig->window().findChild<QMessageBox*>("message") != nullptr, deadline_ms);
        const auto* box = rig->window().findChild<QMessageBox*>("message");
        QVERIFY2(box->text().contains("/dev/no-such-relay-board"), qPrintable(box->text()));
        QCOMPARE(ui().open_comm->text(), QString("connect"));
        QVERIFY(ui().chuankou_num->isEnabled());
        QCOMPARE(board->frame_count(), std::size_t{0});
    }
};

}  // namespace
}  // namespace relay

QTEST_MAIN(relay::window_board_test)
#include "window_board_test.moc"
