// The panel as the owner of its port: with the real window connected to the
// simulated board, relayctl (a child process, as a script runs it) reaches
// the board through the panel's socket, and the window's indicator changes
// only once the board has answered.

#include "app/port_owner.h"
#include "cli/exit_codes.h"
#include "relayctl_process.h"
#include "service/socket_paths.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/form_look.h"
#include "ui/main_form.h"
#include "window_rig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace relay {
namespace {

constexpr int deadline_ms = 5000;

class window_owner_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> runtime;
    std::unique_ptr<pty_board> board;
    std::unique_ptr<testing::window_rig> rig;
    // What the owner logs, written and read on the session's thread.
    std::vector<std::string> logged;

    const main_form_widgets& ui() const { return rig->window().widgets(); }

    // The owner lives with the session: asked on its thread.
    struct owner_view {
        bool serving = false;
        std::string socket_path;
        std::string last_problem;
    };
    owner_view ask_owner()
    {
        owner_view seen;
        rig->in_session([&](panel_session&) {
            const auto* owner = rig->made<port_owner>();
            seen = {owner->is_serving(), owner->socket_path(), owner->last_problem()};
        });
        return seen;
    }

    bool indicator_reads(int relay, const char* caption, std::uint32_t colour) const
    {
        const auto* label = ui().Label6[static_cast<std::size_t>(relay)];
        return label->text() == QLatin1String(caption) &&
               label->palette().color(QPalette::Active, QPalette::WindowText) == colour_from_bgr(colour);
    }

    void connect_window()
    {
        ui().chuankou_num->selectAll();
        QTest::keyClicks(ui().chuankou_num, QString::fromStdString(board->slave_path()));
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red), deadline_ms);
    }

private slots:
    // With the session on the window's thread and, as relay-panel runs it,
    // on a thread of its own that also serves the socket.
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
        board = std::make_unique<pty_board>();
        logged.clear();
        rig = std::make_unique<testing::window_rig>(threaded, [this](panel_session& s) {
            return std::make_unique<port_owner>(s.core(), [this](const std::string& line) { logged.push_back(line); });
        });
        rig->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->window()));
    }

    void cleanup()
    {
        rig.reset();
        board.reset();
        runtime.reset();
    }

    void relayctl_on_2_turns_indicator_2_green()
    {
        QVERIFY(!ask_owner().serving);
        connect_window();
        const auto owner = ask_owner();
        QVERIFY2(owner.serving, owner.last_problem.c_str());
        QCOMPARE(owner.socket_path, user_socket_path(board->slave_path()));

        cli::testing::relayctl_process relayctl({"--port", QString::fromStdString(board->slave_path()), "on", "2"});
        // The indicator waits for the board: never green before the board has switched.
        bool green_before_board = false;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (indicator_reads(1, "on", colour_green) && !board->relays()[1])
                    green_before_board = true;
                return board->relays()[1];
            },
            deadline_ms));
        const auto run = relayctl.finish_serving();
        QVERIFY(run.finished);
        QVERIFY2(run.exit_code == cli::exit_success, qPrintable(run.err));
        QCOMPARE(run.out, QString("1=off 2=on 3=off 4=off\n"));
        QVERIFY(!green_before_board);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "on", colour_green), deadline_ms);
        QVERIFY(indicator_reads(0, "off", colour_red));
    }

    // socat ends its input right after the request; the reply must still
    // come, from the window's socket as from relayd's.
    void a_request_piped_through_socat_is_answered()
    {
        connect_window();
        const auto owner = ask_owner();
        QVERIFY2(owner.serving, owner.last_problem.c_str());
        QProcess socat;
        // -t: socat's wait for the reply after its input ends; the 0.5 s
        // default is enough, but not on a loaded test machine.
        socat.start("socat", {"-t", "5", "-", "UNIX-CONNECT:" + QString::fromStdString(owner.socket_path)});
        QVERIFY(socat.waitForStarted(deadline_ms));
        socat.write(R"({"cmd":"on","relay":4})" "\n");
        socat.closeWriteChannel();
        // The session may be on this thread: wait with its events running.
        QVERIFY(QTest::qWaitFor([&] { return socat.state() == QProcess::NotRunning; }, deadline_ms));
        QCOMPARE(socat.exitCode(), 0);
        const auto out = socat.readAllStandardOutput();
        const auto reply = QJsonDocument::fromJson(out).object();
        QVERIFY2(reply["ok"].toBool(), out.constData());
        QCOMPARE(reply["relays"].toObject()["4"].toString(), QString("on"));
        QVERIFY(board->relays()[3]);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(3, "on", colour_green), deadline_ms);
    }

    // Who switched what, in relay-panel's log: one line per command, from
    // the window or from a socket client named by its uid, pid and program.
    void every_command_leaves_one_line_naming_its_origin_data()
    {
        QTest::addColumn<bool>("from_window");
        QTest::addColumn<QString>("line");  // PORT and CLIENT put in
        QTest::newRow("the window's relay 3 on") << true
                                                 << "<6>relay-panel: PORT: command \"switch relay 3 on\" from the "
                                                    "window: confirmed, the board reports 1=off 2=off 3=on 4=off\n";
        QTest::newRow("relayctl on 4") << false
                                       << "<6>relay-panel: PORT: command \"switch relay 4 on\" from CLIENT: "
                                          "confirmed, the board reports 1=off 2=off 3=off 4=on\n";
    }

    void every_command_leaves_one_line_naming_its_origin()
    {
        QFETCH(bool, from_window);
        QFETCH(QString, line);
        connect_window();
        line.replace("PORT", QString::fromStdString(board->slave_path()));
        if (from_window) {
            QTest::mouseClick(ui().open[2], Qt::LeftButton);
        } else {
            cli::testing::relayctl_process relayctl({"--port", QString::fromStdString(board->slave_path()), "on", "4"});
            line.replace("CLIENT",
                         QString("socket client uid=%1 pid=%2 program=relayctl").arg(::getuid()).arg(relayctl.pid()));
            const auto run = relayctl.finish_serving();
            QVERIFY2(run.exit_code == cli::exit_success, qPrintable(run.err));
        }
        std::vector<std::string> seen;
        QVERIFY(QTest::qWaitFor(
            [&] {
                rig->in_session([&](panel_session&) { seen = logged; });
                return !seen.empty();
            },
            deadline_ms));
        QCOMPARE(seen.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(seen.front()), line);
    }

    void disconnecting_stops_serving_and_frees_the_port_for_relayctl()
    {
        connect_window();
        const auto path = ask_owner().socket_path;
        QVERIFY(QFileInfo::exists(QString::fromStdString(path)));
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QCOMPARE(ui().open_comm->text(), QString("connect"));
        QVERIFY(!ask_owner().serving);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
        // With no owner relayctl opens the port itself.
        const auto run = cli::testing::relayctl_process({"--port", QString::fromStdString(board->slave_path()), "on", "3"})
                             .finish_serving();
        QVERIFY2(run.exit_code == cli::exit_success, qPrintable(run.err));
        QVERIFY(board->relays()[2]);
    }
};

}  // namespace
}  // namespace relay

QTEST_MAIN(relay::window_owner_test)
#include "window_owner_test.moc"
