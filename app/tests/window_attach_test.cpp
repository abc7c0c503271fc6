// The window on a board that relayd owns, end to end: relayd a child process
// on the simulated board, the real window offscreen driven by its widgets,
// attached to relayd's control socket through the window's own session.

#include "app/owner_attachment.h"
#include "app/port_owner.h"
#include "cli/exit_codes.h"
#include "relayctl_process.h"
#include "relayd_process.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/form_look.h"
#include "ui/main_form.h"
#include "ui/spin_control.h"
#include "window_rig.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>
#include <string>

namespace relay {
namespace {

using namespace std::chrono_literals;

constexpr int deadline_ms = 5000;

enum class scenario {
    owner_present,              // relayd owns the port: the window attaches and commands go through it
    owner_absent,               // no one holds the port: the window opens it and serves it itself
    owner_leaves_and_returns,   // relayd stopped and started again while the window is attached
};

class window_attach_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> runtime;
    std::unique_ptr<pty_board> board;
    std::unique_ptr<relayd::testing::relayd_process> relayd;
    std::unique_ptr<testing::window_rig> rig;

    const main_form_widgets& ui() const { return rig->window().widgets(); }

    bool indicator_reads(int relay, const char* caption, std::uint32_t colour) const
    {
        const auto* label = ui().Label6[static_cast<std::size_t>(relay - 1)];
        return label->text() == QLatin1String(caption) &&
               label->palette().color(QPalette::Active, QPalette::WindowText) == colour_from_bgr(colour);
    }
    bool all_read_state() const
    {
        for (int relay = 1; relay <= relay_count; ++relay)
            if (!indicator_reads(relay, "state", colour_black))
                return false;
        return true;
    }

    // What lives with the session, asked on its thread.
    struct sharing_seen {
        bool window_serves = false;
        int attempts = 0;
    };
    sharing_seen ask_session()
    {
        sharing_seen seen;
        rig->in_session([&](panel_session&) {
            const auto* made = rig->made<QObject>();
            seen.window_serves = made->findChild<port_owner*>()->is_serving();
            seen.attempts = made->findChild<owner_attachment*>()->attempts();
        });
        return seen;
    }

    void start_relayd()
    {
        const QStringList args{"--port", QString::fromStdString(board->slave_path()), "--socket",
                               runtime->filePath("cabinet.sock")};
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime->path());
        relayd = std::make_unique<relayd::testing::relayd_process>(args, env);
        QVERIFY2(relayd->wait_for_log(QRegularExpression("^<6>board: board at address 1 answering$",
                                                         QRegularExpression::MultilineOption)),
                 qPrintable(relayd->log()));
    }

    void press_connect()
    {
        ui().chuankou_num->selectAll();
        QTest::keyClicks(ui().chuankou_num, QString::fromStdString(board->slave_path()));
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QCOMPARE(ui().open_comm->text(), QString("disconnect"));
    }

    QString through_relayd() const { return QString("through relayd, pid %1").arg(relayd->pid()); }

    // Attached: the owner's board, address and name in the window, no
    // message, no socket of the window's own.
    void shows_relayds_board()
    {
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red), deadline_ms);
        QVERIFY(rig->window().findChild<QMessageBox*>("message") == nullptr);
        QVERIFY2(rig->window().windowTitle().endsWith(through_relayd()), qPrintable(rig->window().windowTitle()));
        QCOMPARE(ui().add->text(), QString("1"));
        QVERIFY(!ui().add->isEnabled());
        QVERIFY(!ui().VScroll1->isEnabled());
        QVERIFY(!ui().chuankou_num->isEnabled());
        QVERIFY(!ask_session().window_serves);
    }

    void owner_present()
    {
        start_relayd();
        press_connect();
        shows_relayds_board();

        QTest::mouseClick(ui().open[1], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(2, "on", colour_green), deadline_ms);
        QVERIFY(board->relays()[1]);
        // Another client of relayd: the window follows what relayd reports.
        const auto run =
            cli::testing::relayctl_process({"--port", QString::fromStdString(board->slave_path()), "off", "2"})
                .finish_serving();
        QVERIFY2(run.exit_code == cli::exit_success, qPrintable(run.err));
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(2, "off", colour_red), deadline_ms);
        QTest::mouseClick(ui().Label6[1], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(2, "on", colour_green), deadline_ms);
        QTest::mouseClick(ui().Label6[1], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(2, "off", colour_red), deadline_ms);
        QVERIFY(!board->relays()[1]);
        QTest::mouseClick(ui().openall, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "on", colour_green) && indicator_reads(4, "on", colour_green),
                                 deadline_ms);
        QCOMPARE(board->relays(), (std::array<bool, relay_count>{true, true, true, true}));
        QTest::mouseClick(ui().closeall, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red) && indicator_reads(4, "off", colour_red),
                                 deadline_ms);

        // Detached, relayd goes on polling and the window gives the address back.
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QCOMPARE(ui().open_comm->text(), QString("connect"));
        // As after any disconnect: "state", in the colour last shown.
        for (const auto* indicator : ui().Label6)
            QCOMPARE(indicator->text(), QString("state"));
        QVERIFY(ui().add->isEnabled() && ui().chuankou_num->isEnabled());
        QVERIFY(!rig->window().windowTitle().contains("through"));
        const auto frames = board->frame_count();
        QVERIFY(board->wait_for_frame_count(frames + 10, 5s));
        QVERIFY(relayd->wait_for_exit(0ms) == false);
    }

    void owner_absent()
    {
        press_connect();
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red), deadline_ms);
        QVERIFY(rig->window().findChild<QMessageBox*>("message") == nullptr);
        QVERIFY(!rig->window().windowTitle().contains("through"));
        QVERIFY(ui().add->isEnabled());
        QVERIFY(ask_session().window_serves);
        QTest::mouseClick(ui().open[2], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(3, "on", colour_green), deadline_ms);
        QVERIFY(board->relays()[2]);
    }

    void owner_leaves_and_returns()
    {
        start_relayd();
        press_connect();
        shows_relayds_board();
        QTest::mouseClick(ui().open[1], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(2, "on", colour_green), deadline_ms);

        relayd->terminate();
        QVERIFY(relayd->wait_for_exit());
        const auto frames_at_exit = board->frame_count();
        QTRY_VERIFY_WITH_TIMEOUT(all_read_state(), deadline_ms);
        QVERIFY2(ui().Label6[0]->toolTip().contains("every second"), qPrintable(ui().Label6[0]->toolTip()));
        QCOMPARE(ui().open_comm->text(), QString("disconnect"));
        // Tried again and again, and never by opening the port.
        const auto tried = ask_session().attempts;
        QTRY_VERIFY_WITH_TIMEOUT(ask_session().attempts >= tried + 2, deadline_ms);
        QCOMPARE(board->frame_count(), frames_at_exit);
        QVERIFY(!ask_session().window_serves);

        start_relayd();
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(2, "on", colour_green), deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(rig->window().windowTitle().endsWith(through_relayd()), deadline_ms);
        QVERIFY(rig->window().findChild<QMessageBox*>("message") == nullptr);
    }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("threaded");
        QTest::newRow("session on the window's thread") << false;
        QTest::newRow("session on a thread of its own") << true;
    }

    void init()
    {
        QFETCH_GLOBAL(bool, threaded);
        runtime = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", runtime->path().toLocal8Bit());
        board = std::make_unique<pty_board>(1);
        rig = std::make_unique<testing::window_rig>(threaded, [](panel_session& s) {
            auto sharing = std::make_unique<QObject>();
            new port_owner(s.core(), [](const std::string&) {}, sharing.get());
            new owner_attachment(sharing.get());
            return sharing;
        });
        rig->in_logic([this](panel_controller& logic) {
            logic.set_board_owner(rig->made<QObject>()->findChild<owner_attachment*>());
        });
        rig->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->window()));
    }

    void cleanup()
    {
        rig->in_logic([](panel_controller& logic) { logic.set_board_owner(nullptr); });
        rig.reset();
        relayd.reset();
        board.reset();
        runtime.reset();
    }

    void attach_cases_data()
    {
        QTest::addColumn<int>("what");
        QTest::newRow("owner present") << int(scenario::owner_present);
        QTest::newRow("owner absent") << int(scenario::owner_absent);
        QTest::newRow("owner leaves and returns") << int(scenario::owner_leaves_and_returns);
    }

    void attach_cases()
    {
        QFETCH(int, what);
        switch (scenario(what)) {
        case scenario::owner_present:
            return owner_present();
        case scenario::owner_absent:
            return owner_absent();
        case scenario::owner_leaves_and_returns:
            return owner_leaves_and_returns();
        }
    }
};

}  // namespace
}  // namespace relay

QTEST_MAIN(relay::window_attach_test)
#include "window_attach_test.moc"
