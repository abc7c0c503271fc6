// relayctl when another program owns the port: it goes through the owner's
// control socket (real socket, the real session on the simulated board's
// pseudo-terminal) with the same output and exit status as on the port.

#include "cli/exit_codes.h"
#include "live_board_rig.h"
#include "relayctl_process.h"
#include "service/socket_paths.h"
#include "service/socket_probe.h"
#include "socket_client.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <memory>

#include <unistd.h>

namespace relay::cli::testing {
namespace {

constexpr int deadline_ms = 5000;

bool any_live_socket_in(const std::string& folder)
{
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (probe_socket(it->path().string()).state == socket_state::live)
            return true;
    return false;
}

}  // namespace

class relayctl_owner_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> runtime;
    std::unique_ptr<relay::testing::live_board_rig> rig;

    QString port() const { return QString::fromStdString(rig->port()); }

private slots:
    void init()
    {
        // relayctl, a child, inherits this and so looks where the owner serves.
        runtime = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", runtime->path().toLocal8Bit());
        rig = std::make_unique<relay::testing::live_board_rig>();
        QVERIFY(rig->connect_until_answering());
        const auto served = rig->serve(user_socket_path(rig->port()));
        QVERIFY2(served.ok, served.reason.c_str());
    }

    void cleanup()
    {
        rig.reset();
        runtime.reset();
    }

    void same_output_and_exit_status_through_the_owner_data()
    {
        QTest::addColumn<QString>("board_does");
        QTest::addColumn<QStringList>("args");  // after --port PTY
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("out");  // a regular expression for the whole of stdout
        QTest::addColumn<QVector<int>>("frame_actions");  // the set frame that must reach the board once

        QTest::newRow("status") << "obliges" << QStringList{"status"} << int(exit_success)
                                << R"(1=off 2=off 3=off 4=off\n)" << QVector<int>{};
        QTest::newRow("on 2") << "obliges" << QStringList{"on", "2"} << int(exit_success)
                              << R"(1=off 2=on 3=off 4=off\n)" << QVector<int>{0, 2, 0, 0};
        QTest::newRow("toggle 4") << "obliges" << QStringList{"toggle", "4"} << int(exit_success)
                                  << R"(1=off 2=off 3=off 4=on\n)" << QVector<int>{0, 0, 0, 2};
        QTest::newRow("--json all-on") << "obliges" << QStringList{"--json", "all-on"} << int(exit_success)
                                       << R"(\{"port":"/dev/pts/\d+","address":1,"relays":\{"1":"on","2":"on","3":"on","4":"on"\}\}\n)"
                                       << QVector<int>{2, 2, 2, 2};
        QTest::newRow("refused") << "stuck" << QStringList{"on", "3"} << int(exit_not_taken)
                                 << R"(1=off 2=off 3=off 4=off\n)" << QVector<int>{0, 0, 2, 0};
        QTest::newRow("silent: timeout") << "silent" << QStringList{"status"} << int(exit_no_answer) << ""
                                         << QVector<int>{};
        QTest::newRow("unplugged: port") << "unplugged" << QStringList{"off", "1"} << int(exit_port) << ""
                                         << QVector<int>{};
        QTest::newRow("queue full: busy") << "busy" << QStringList{"on", "4"} << int(exit_busy) << ""
                                          << QVector<int>{};
        // The owner knows the names: relayctl passes a name on, and the
        // plain line stays the same for scripts that read it.
        QTest::newRow("on by name") << "named" << QStringList{"on", "pump"} << int(exit_success)
                                    << R"(1=off 2=on 3=off 4=off\n)" << QVector<int>{0, 2, 0, 0};
        QTest::newRow("--json carries the names") << "named" << QStringList{"--json", "status"} << int(exit_success)
                                                  << R"(\{"port":"/dev/pts/\d+","address":1,"relays":\{"1":"off","2":"off","3":"off","4":"off"\},"names":\{"2":"pump"\}\}\n)"
                                                  << QVector<int>{};
        QTest::newRow("unknown name: usage") << "named" << QStringList{"toggle", "pmup"} << int(exit_usage) << ""
                                             << QVector<int>{};
    }

    void same_output_and_exit_status_through_the_owner()
    {
        QFETCH(QString, board_does);
        QFETCH(QStringList, args);
        QFETCH(int, exit_code);
        QFETCH(QString, out);
        QFETCH(QVector<int>, frame_actions);
        if (board_does == "stuck") {
            rig->board().set_answer_shaper([](const frame& answer) {
                const auto f = encode_status(answer[1], answer[2], {status_off, status_off, status_off, status_off});
                return std::vector<pty_board::chunk>{{{f.begin(), f.end()}, std::chrono::milliseconds(0)}};
            });
        } else if (board_does == "silent") {
            rig->board().set_silent(true);
            QTRY_COMPARE_WITH_TIMEOUT(rig->core().link_now(), link_condition::silent, deadline_ms);
        } else if (board_does == "unplugged") {
            rig->board().close_line();
            QTRY_COMPARE_WITH_TIMEOUT(rig->core().link_now(), link_condition::lost, deadline_ms);
        } else if (board_does == "named") {
            rig->socket().set_relay_names({"", "pump", "", ""});
        } else if (board_does == "busy") {
            // Without ticks the queue cannot drain while relayctl starts up.
            rig->session().timer().stop();
            for (std::size_t t = 0; t < client_queue_capacity; ++t)
                QVERIFY(rig->core().queue_command(single_relay(1, action_on), nullptr));
        }
        const auto first = rig->board().received_frames().size();
        relayctl_process relayctl(QStringList{"--port", port()} + args);
        const auto run = relayctl.finish_serving();
        QVERIFY(run.finished);
        QVERIFY2(run.exit_code == exit_code, qPrintable(QString("exit %1, stderr: %2").arg(run.exit_code).arg(run.err)));
        if (exit_code != exit_success)
            QVERIFY2(run.err.startsWith("relayctl: "), qPrintable(run.err));
        QVERIFY2(QRegularExpression("^" + out + "$").match(run.out).hasMatch(), qPrintable(run.out));
        if (!frame_actions.isEmpty()) {
            const auto wanted = encode_command(1, command_tuple{code_set_relays,
                                                               {std::uint8_t(frame_actions[0]), std::uint8_t(frame_actions[1]),
                                                                std::uint8_t(frame_actions[2]), std::uint8_t(frame_actions[3])}});
            const auto set = rig->set_frames_since(first);
            QCOMPARE(std::count(set.begin(), set.end(), wanted), 1L);
        }
    }

    void a_socket_given_by_path_is_used_as_is()
    {
        control_socket elsewhere(rig->loop(), rig->core());
        const auto path = runtime->path().toStdString() + "/other/board.sock";
        QVERIFY(elsewhere.listen(path, socket_access::owner_only).ok);
        relayctl_process relayctl({"--socket", QString::fromStdString(path), "on", "1"});
        const auto run = relayctl.finish_serving();
        QVERIFY(run.finished);
        QCOMPARE(run.exit_code, int(exit_success));
        QCOMPARE(run.out, QString("1=on 2=off 3=off 4=off\n"));

        relayctl_process missing({"--socket", QString::fromStdString(path + "-none"), "status"});
        const auto refused = missing.finish_serving();
        QCOMPARE(refused.exit_code, int(exit_port));
        QVERIFY2(refused.err.contains("cannot connect"), qPrintable(refused.err));
    }

    void watch_prints_a_line_per_change_and_stops_at_the_count_data()
    {
        QTest::addColumn<bool>("json");
        QTest::newRow("plain") << false;
        QTest::newRow("json") << true;
    }

    void watch_prints_a_line_per_change_and_stops_at_the_count()
    {
        QFETCH(bool, json);
        QStringList args{"--port", port(), "watch", "--count", "2"};
        if (json)
            args.prepend("--json");
        relayctl_process relayctl(args);
        QVERIFY(relayctl.wait_for_lines(1, std::chrono::milliseconds(deadline_ms)));
        rig->core().set_mailbox(single_relay(3, action_on));
        const auto run = relayctl.finish_serving();
        QVERIFY(run.finished);
        QCOMPARE(run.exit_code, int(exit_success));
        const auto lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        if (json) {
            const auto last = QJsonDocument::fromJson(lines[1].toUtf8()).object();
            QCOMPARE(last["event"].toString(), QString("state"));
            QCOMPARE(last["relays"].toObject()["3"].toString(), QString("on"));
            QCOMPARE(last["link"].toString(), QString("answering"));
        } else {
            QCOMPARE(lines[0], QString("1=off 2=off 3=off 4=off link=answering"));
            QCOMPARE(lines[1], QString("1=off 2=off 3=on 4=off link=answering"));
        }
    }

    // relayctl with no --port, as after "run.sh --simulate": the one owner
    // serving a board here is the one meant, whatever else lies in the
    // folder; with two it asks which; with none it asks port 1 and says why.
    void without_port_the_one_owner_here_is_used_data()
    {
        QTest::addColumn<QString>("beside");  // what else the user's socket folder holds
        QTest::addColumn<int>("exit_code");
        QTest::newRow("nothing") << "" << int(exit_success);
        QTest::newRow("a second name for the same socket") << "link" << int(exit_success);
        QTest::newRow("a socket left by a killed owner") << "stale" << int(exit_success);
        QTest::newRow("a second owner") << "owner" << int(exit_usage);
        QTest::newRow("no owner: port 1") << "none" << int(exit_no_answer);
    }

    void without_port_the_one_owner_here_is_used()
    {
        QFETCH(QString, beside);
        QFETCH(int, exit_code);
        if (any_live_socket_in(system_socket_folder()))
            QSKIP("a system relayd serves boards on this machine");
        const auto folder = user_socket_folder();
        control_socket second(rig->loop(), rig->core());
        const auto other = folder + "/other.sock";
        if (beside == "link") {
            QVERIFY(::symlink(user_socket_path(rig->port()).c_str(), other.c_str()) == 0);
        } else if (beside == "stale") {
            QVERIFY(relay::testing::leave_dead_socket(other));
        } else if (beside == "owner") {
            const auto served = second.listen(other, socket_access::owner_only);
            QVERIFY2(served.ok, served.reason.c_str());
        } else if (beside == "none") {
            rig->socket().close();
        }
        const auto run = relayctl_process({"--timeout", "300", "status"}).finish_serving();
        QVERIFY(run.finished);
        if (beside == "none") {
            // Port 1 of this machine: missing, not a board, or no answer.
            QVERIFY2(run.exit_code == exit_port || run.exit_code == exit_no_answer, qPrintable(run.err));
            QVERIFY2(run.err.endsWith("relayctl: no --port given, and no relay-panel or relayd serves a board here, "
                                      "so port 1 was asked; connect the panel to its board, or name the port with "
                                      "--port\n"),
                     qPrintable(run.err));
            return;
        }
        QVERIFY2(run.exit_code == exit_code, qPrintable(run.err));
        if (exit_code == exit_success) {
            QCOMPARE(run.out, QString("1=off 2=off 3=off 4=off\n"));
        } else {
            const QString self = " (relayctl_owner_test, pid " + QString::number(QCoreApplication::applicationPid()) + ")";
            QCOMPARE(run.err, "relayctl: 2 boards are served here; name one with --port or --socket: " +
                                  QString::fromStdString(other) + self + ", " +
                                  QString::fromStdString(user_socket_path(rig->port())) + self + "\n");
        }
    }

    void watch_without_an_owner_says_so()
    {
        rig->socket().close();
        const auto run = relayctl_process({"--port", port(), "watch"}).finish_serving();
        QCOMPARE(run.exit_code, int(exit_port));
        QVERIFY2(run.err.contains("no program owns the port"), qPrintable(run.err));
    }
};

}  // namespace relay::cli::testing

QTEST_GUILESS_MAIN(relay::cli::testing::relayctl_owner_test)
#include "relayctl_owner_test.moc"
