// What an operator does and sees, end to end: typing the board's port into
// the real window, clicking, and reading the indicators, with the real link
// and timer and the simulated board on a pseudo-terminal.

#include "panel/panel_controls.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/form_look.h"
#include "ui/main_form.h"
#include "session/panel_session.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace relay {
namespace {

constexpr int deadline_ms = 5000;

class window_board_test : public QObject {
    Q_OBJECT

    std::unique_ptr<pty_board> board;
    std::unique_ptr<panel_session> session;
    std::unique_ptr<main_form> window;

    const main_form_widgets& ui() const { return window->widgets(); }

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

private slots:
    void init()
    {
        board = std::make_unique<pty_board>();
        session = std::make_unique<panel_session>();
        window = std::make_unique<main_form>(session->controller(), session->catalog());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window.reset();
        session.reset();
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
};

}  // namespace
}  // namespace relay

QTEST_MAIN(relay::window_board_test)
#include "window_board_test.moc"
