// relayctl while relayd owns the port, both as the system runs them: two
// child processes, the simulated board on a real pseudo-terminal. relayctl
// finds relayd's socket from the port it is given and answers as it would
// on the port itself.

#include "board_history.h"
#include "cli/exit_codes.h"
#include "relayctl_process.h"
#include "relayd_process.h"
#include "sim/pty_board.h"

#include <QFile>
#include <QFileInfo>
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

    void without_port_the_one_relayd_here_is_used()
    {
        const auto run = run_relayctl({"--json", "status"});
        QVERIFY2(run.exit_code == int(cli::exit_success), qPrintable(run.err));
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object()["port"].toString(), port);
    }

    // The file names the socket (socket = .../cabinet.sock, as the README's
    // example does): relayctl still finds the board from its port, through
    // the link relayd keeps at the port's usual path while it runs.
    void a_socket_named_in_the_file_is_found_from_the_port()
    {
        pty_board cabinet(1);
        const auto cabinet_port = QString::fromStdString(cabinet.slave_path());
        const QString socket = runtime.filePath("named/cabinet.sock");
        const QString config = runtime.filePath("relayd.conf");
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString("[board cabinet]\nport = %1\nsocket = %2\n").arg(cabinet_port, socket).toUtf8());
        file.close();
        relayd_process named({"--config", config});
        QVERIFY2(named.wait_for_log(QRegularExpression("^<6>cabinet: board at address 1 answering$",
                                                       QRegularExpression::MultilineOption)),
                 qPrintable(named.log()));
        const QString link = usual_path(cabinet_port);
        QCOMPARE(QFileInfo(link).symLinkTarget(), socket);

        const auto run = run_relayctl({"--port", cabinet_port, "on", "3"});
        QVERIFY2(run.exit_code == int(cli::exit_success), qPrintable(run.err));
        QCOMPARE(run.out, QString("1=off 2=off 3=on 4=off\n"));
        QVERIFY(cabinet.relays()[2]);

        // Two boards served here now: without --port relayctl cannot choose.
        const auto unsure = run_relayctl({"status"});
        QCOMPARE(unsure.exit_code, int(cli::exit_usage));
        QVERIFY2(unsure.err.startsWith("relayctl: 2 boards are served here; name one with --port or --socket: "),
                 qPrintable(unsure.err));
        QVERIFY2(unsure.err.contains(link + " (relayd, pid " + QString::number(named.pid()) + ")"), qPrintable(unsure.err));
        QVERIFY2(unsure.err.contains(usual_path(port)), qPrintable(unsure.err));
        QCOMPARE(unsure.err.count('\n'), 1);

        named.terminate();
        QVERIFY(named.wait_for_exit());
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(socket));
    }

    // relayctl on a board whose section names relays and sets an
    // interlock. What counts is what the board took, replayed from its
    // frames, and that it had taken it by the time relayctl exited.
    void relayctl_on_a_configured_board_data()
    {
        QTest::addColumn<QString>("extra");           // lines of the board's section
        QTest::addColumn<QVector<int>>("before");     // relays switched on first
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("out");             // a pattern for the whole of stdout
        QTest::addColumn<int>("relay");               // whose switched time is measured; 0 none
        QTest::addColumn<int>("held_ms");             // from this to one tick more
        QTest::addColumn<QVector<int>>("after");      // relays on when relayctl has exited
        QTest::addColumn<int>("frames");              // set frames for the command

        const QString pump = "relay2 = pump\n";
        const QString interlock = "interlock = 1 3\n";
        const QString all_off = QRegularExpression::escape("1=off 2=off 3=off 4=off\n");
        QTest::newRow("on by name") << pump << QVector<int>{} << QStringList{"on", "pump"} << int(cli::exit_success)
                                    << QRegularExpression::escape("1=off 2=on 3=off 4=off\n") << 0 << 0
                                    << QVector<int>{2} << 1;
        QTest::newRow("plain status keeps numbers")
            << pump << QVector<int>{2} << QStringList{"status"} << int(cli::exit_success)
            << QRegularExpression::escape("1=off 2=on 3=off 4=off\n") << 0 << 0 << QVector<int>{2} << 0;
        QTest::newRow("json carries the names")
            << pump << QVector<int>{} << QStringList{"--json", "status"} << int(cli::exit_success)
            << QString(R"(\{.*"names":\{"2":"pump"\}.*\}\n)") << 0 << 0 << QVector<int>{} << 0;
        QTest::newRow("pulse 500ms") << QString() << QVector<int>{} << QStringList{"pulse", "2", "500ms"}
                                     << int(cli::exit_success) << all_off << 2 << 500 << QVector<int>{} << 2;
        QTest::newRow("cycle by name") << pump << QVector<int>{2} << QStringList{"cycle", "pump", "0.3s"}
                                       << int(cli::exit_success) << QRegularExpression::escape("1=off 2=on 3=off 4=off\n")
                                       << 2 << 300 << QVector<int>{2} << 2;
        QTest::newRow("all-on under an interlock") << interlock << QVector<int>{3} << QStringList{"all-on"}
                                                   << int(cli::exit_interlock) << QString() << 0 << 0
                                                   << QVector<int>{3} << 0;
        QTest::newRow("on 3 while 1 is on") << interlock << QVector<int>{1} << QStringList{"on", "3"}
                                            << int(cli::exit_success)
                                            << QRegularExpression::escape("1=off 2=off 3=on 4=off\n") << 0 << 0
                                            << QVector<int>{3} << 2;
    }

    void relayctl_on_a_configured_board()
    {
        QFETCH(QString, extra);
        QFETCH(QVector<int>, before);
        QFETCH(QStringList, args);
        QFETCH(int, exit_code);
        QFETCH(QString, out);
        QFETCH(int, relay);
        QFETCH(int, held_ms);
        QFETCH(QVector<int>, after);
        QFETCH(int, frames);

        relayd.reset();
        const QString config = runtime.filePath("relayd.conf");
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString("[board b]\nport = %1\n%2").arg(port, extra).toUtf8());
        file.close();
        relayd_process configured({"--config", config});
        QVERIFY2(configured.wait_for_log(QRegularExpression("^<6>b: board at address 1 answering$",
                                                            QRegularExpression::MultilineOption)),
                 qPrintable(configured.log()));
        for (const int r : before) {
            const auto on = run_relayctl({"--port", port, "on", QString::number(r)});
            QVERIFY2(on.exit_code == int(cli::exit_success), qPrintable(on.err));
        }
        const auto start_state = board->relays();
        const auto frames_before = replay(*board, {}, 0, {}).set_frames;

        const auto run = run_relayctl(QStringList{"--port", port} + args);
        // Read at once: relayctl answers only once the board has confirmed.
        const auto at_exit = board->relays();
        QVERIFY(run.finished);
        QVERIFY2(run.exit_code == exit_code, qPrintable(run.err));
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(out),
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(run.out)
                     .hasMatch(),
                 qPrintable(run.out));
        std::array<bool, relay_count> expected{};
        for (const int r : after)
            expected[static_cast<std::size_t>(r - 1)] = true;
        QCOMPARE(at_exit, expected);

        const auto seen = replay(*board, start_state, relay, {1, 3});
        QCOMPARE(seen.set_frames - frames_before, frames);
        QVERIFY2(!seen.group_ever_on_together, "relays 1 and 3 were on together at the board");
        if (relay != 0) {
            QVERIFY(seen.held);
            // The steps go out on relayd's ticks, each as late as the
            // scheduler lets it run: a few milliseconds either way.
            const auto tick = 100ms;
            const auto jitter = 20ms;
            const auto least = std::chrono::milliseconds(held_ms) - jitter;
            QVERIFY2(*seen.held >= least && *seen.held <= least + tick + 2 * jitter,
                     qPrintable(QString::number(seen.held->count())));
        }
    }

    // A second owner for a port the first one holds: relayd says who holds
    // the port and ends, and the first goes on serving.
    void relayd_on_a_port_another_owner_holds_names_it_and_exits_1_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("the usual socket") << QStringList{};
        QTest::newRow("a socket of its own") << QStringList{"--socket", runtime.filePath("second.sock")};
    }

    void relayd_on_a_port_another_owner_holds_names_it_and_exits_1()
    {
        QFETCH(QStringList, extra);
        relayd_process second(QStringList{"--port", port} + extra);
        QVERIFY(second.wait_for_exit());
        QVERIFY(second.exited_normally());
        QCOMPARE(second.exit_code(), 1);
        const QString expected = "<3>board: the port " + port + " is held by relayd (pid " +
                                 QString::number(relayd->pid()) + "), which shares it at " + usual_path(port) +
                                 ". Disconnect or stop it, then start relayd again\n";
        QVERIFY2(second.log().contains(expected), qPrintable(second.log()));
        QVERIFY2(!second.log().contains("socket listening"), qPrintable(second.log()));

        const auto run = run_relayctl({"--port", port, "status"});
        QVERIFY2(run.exit_code == int(cli::exit_success), qPrintable(run.err));
    }

    // A program that serves no socket holds the port (here a relayctl that
    // waits on a silent board): relayd names it, says it keeps trying, and
    // takes the port once it is free. The test, at the far end of the
    // pseudo-terminal, is no holder.
    void relayd_names_a_program_in_the_way_and_keeps_trying()
    {
        pty_board other(1);
        const auto other_port = QString::fromStdString(other.slave_path());
        other.set_silent(true);
        auto holder = std::make_unique<relayctl_process>(QStringList{"--port", other_port, "--timeout", "20000", "status"});
        QVERIFY(other.wait_for_frame_count(1, 5000ms));
        relayd_process waiting({"--port", other_port});
        const QString expected = "<3>board: cannot open port '" + other_port + "': The port " + other_port +
                                 " is in use by relayctl (pid " + QString::number(holder->pid()) +
                                 "). Trying again every second.\n";
        QVERIFY2(waiting.wait_for_log(QRegularExpression(QRegularExpression::escape(expected))), qPrintable(waiting.log()));
        holder.reset();
        QVERIFY2(waiting.wait_for_log(QRegularExpression("^<6>board: port " + QRegularExpression::escape(other_port) +
                                                             " opened",
                                                         QRegularExpression::MultilineOption)),
                 qPrintable(waiting.log()));
    }

private:
    // Where relayd serves, or links, the board of this device unless told.
    QString usual_path(const QString& device) const
    {
        return runtime.filePath("relay-panel/" + device.mid(QString("/dev/").size()).replace('/', '-') + ".sock");
    }

    QTemporaryDir runtime;
    std::unique_ptr<pty_board> board;
    QString port;
    std::unique_ptr<relayd_process> relayd;
};

}  // namespace relay::relayd::testing

QTEST_GUILESS_MAIN(relay::relayd::testing::relayctl_through_relayd_test)
#include "relayctl_through_relayd_test.moc"
