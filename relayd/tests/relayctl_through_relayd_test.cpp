// relayctl while relayd owns the port, both as the system runs them: two
// child processes, the simulated board on a real pseudo-terminal. relayctl
// finds relayd's socket from the port it is given and answers as it would
// on the port itself.

#include "cli/exit_codes.h"
#include "relayctl_process.h"
#include "relayd_process.h"
#include "sim/pty_board.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace std::chrono_literals;

namespace relay::relayd::testing {

using cli::testing::relayctl_process;
using cli::testing::run_relayctl;

class relayctl_through_relayd_test : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(runtime.isValid());
        // Both programs put and look for the user's sockets here.
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        board = std::make_unique<pty_board>(1);
        port = QString::fromStdString(board->slave_path());
        relayd = std::make_unique<relayd_process>(QStringList{"--port", port});
        QVERIFY2(relayd->wait_for_log(QRegularExpression("^<6>board: board at address 1 answering$",
                                                         QRegularExpression::MultilineOption)),
                 qPrintable(relayd->log()));
    }

    void cleanup()
    {
        relayd.reset();
        board.reset();
    }

    void a_command_goes_through_relayd_and_is_confirmed_by_the_board()
    {
        const auto run = run_relayctl({"--port", port, "on", "2"});
        QVERIFY(run.finished);
        QVERIFY2(run.exit_code == int(cli::exit_success), qPrintable(run.err));
        QCOMPARE(run.out, QString("1=off 2=on 3=off 4=off\n"));
        QCOMPARE(board->relays(), (std::array<bool, relay_count>{false, true, false, false}));
        // relayd kept the port: it polls on, and nothing else opened it.
        const auto after = board->frame_count();
        QVERIFY(board->wait_for_frame_count(after + 3, 2000ms));
    }

    // Who switched what, from relayd's log: one line per command, naming
    // the client by the uid and pid the kernel gives for the socket's far
    // end and its program; also when the client gave up first.
    void every_command_leaves_one_line_naming_its_client_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("line");  // CLIENT, PORT put in
        QTest::newRow("on 2") << QStringList{"on", "2"} << false
                              << "<6>board: command \"switch relay 2 on\" from CLIENT: confirmed, the board reports "
                                 "1=off 2=on 3=off 4=off";
        QTest::newRow("all-on") << QStringList{"all-on"} << false
                                << "<6>board: command \"switch all relays on\" from CLIENT: confirmed, the board "
                                   "reports 1=on 2=on 3=on 4=on";
        QTest::newRow("toggle 3") << QStringList{"toggle", "3"} << false
                                  << "<6>board: command \"switch relay 3 on\" from CLIENT: confirmed, the board "
                                     "reports 1=off 2=off 3=on 4=off";
        QTest::newRow("board silent") << QStringList{"--timeout", "300", "off", "4"} << true
                                      << "<4>board: command \"switch relay 4 off\" from CLIENT: failed: No valid "
                                         "answer from the board on PORT within 2000 ms.";
    }

    void every_command_leaves_one_line_naming_its_client()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, silent);
        QFETCH(QString, line);
        if (silent) {
            board->set_silent(true);
            QVERIFY(relayd->wait_for_log(
                QRegularExpression("^<4>board: board at address 1 silent", QRegularExpression::MultilineOption)));
        }
        const QRegularExpression any_command("^<\\d>board: command ", QRegularExpression::MultilineOption);
        const int before = relayd->count_log(any_command);
        relayctl_process relayctl(QStringList{"--port", port} + args);
        const auto client = QString("socket client uid=%1 pid=%2 program=relayctl").arg(::getuid()).arg(relayctl.pid());
        const auto run = relayctl.finish();
        QVERIFY(run.finished);
        QVERIFY2((run.exit_code == int(cli::exit_success)) != silent, qPrintable(run.err));
        line.replace("CLIENT", client).replace("PORT", port);
        QVERIFY2(relayd->wait_for_log(QRegularExpression("^" + QRegularExpression::escape(line) + "$",
                                                         QRegularExpression::MultilineOption)),
                 qPrintable(relayd->log()));
        QCOMPARE(relayd->count_log(any_command), before + 1);
    }

    void status_in_json_names_the_port_and_the_relays()
    {
        const auto run = run_relayctl({"--port", port, "--json", "status"});
        QVERIFY2(run.exit_code == int(cli::exit_success), qPrintable(run.err));
        const auto reply = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(reply["port"].toString(), port);
        QCOMPARE(reply["relays"].toObject()["4"].toString(), QString("off"));
    }

    void watch_sees_a_change_made_by_another_relayctl()
    {
        relayctl_process watch({"--port", port, "watch", "--count", "2"});
        QVERIFY(watch.wait_for_lines(1, 5000ms));
        const auto switched = run_relayctl({"--port", port, "all-on"});
        QVERIFY2(switched.exit_code == int(cli::exit_success), qPrintable(switched.err));
        const auto run = watch.finish_serving();
        QVERIFY(run.finished);
        QCOMPARE(run.exit_code, int(cli::exit_success));
        const auto lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QString("1=off 2=off 3=off 4=off link=answering"));
        QCOMPARE(lines[1], QString("1=on 2=on 3=on 4=on link=answering"));
    }

private:
    QTemporaryDir runtime;
    std::unique_ptr<pty_board> board;
    QString port;
    std::unique_ptr<relayd_process> relayd;
};

}  // namespace relay::relayd::testing

QTEST_GUILESS_MAIN(relay::relayd::testing::relayctl_through_relayd_test)
#include "relayctl_through_relayd_test.moc"
