// The control socket with everything real: Unix sockets, the real session
// (port, link, board core, 100 ms ticker) and the simulated board on a
// pseudo-terminal. What each request puts on the line, what it is answered,
// and what bad or greedy clients cannot do.

#include "core/timing.h"
#include "live_board_rig.h"
#include "socket_client.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relay {
namespace {

using testing::relays_json;
using testing::socket_client;

constexpr int deadline_ms = 5000;

frame set_frame(std::array<std::uint8_t, relay_count> actions)
{
    return encode_command(1, command_tuple{code_set_relays, actions});
}

}  // namespace

class control_socket_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<testing::live_board_rig> rig;
    std::string path;

    board_core& core() { return rig->core(); }
    pty_board& board() { return rig->board(); }
    control_socket& service() { return rig->socket(); }

    void serve()
    {
        const auto result = rig->serve(path);
        QVERIFY2(result.ok, result.reason.c_str());
    }

    // Connected to port, the board's pseudo-terminal unless told another,
    // the board answering, and served.
    void connect_and_serve(const std::string& port = {})
    {
        rig->connect(port);
        QVERIFY(core().connected());
        QTRY_COMPARE_WITH_TIMEOUT(core().link_now(), link_condition::answering, deadline_ms);
        serve();
    }

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        path = folder->path().toStdString() + "/run/pts-test.sock";
        rig = std::make_unique<testing::live_board_rig>();
    }

    void cleanup()
    {
        rig.reset();
        folder.reset();
    }

    void each_command_is_answered_once_the_board_shows_it_data()
    {
        QTest::addColumn<QByteArray>("before");  // brings the board to the row's start
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QVector<int>>("sent");  // actions of the one set frame; empty for none
        QTest::addColumn<QVector<int>>("relays");

        QTest::newRow("on 2") << QByteArray() << QByteArray(R"({"cmd":"on","relay":2,"id":1})")
                              << QVector<int>{0, 2, 0, 0} << QVector<int>{0, 1, 0, 0};
        QTest::newRow("off 3 after all on") << QByteArray(R"({"cmd":"all-on"})")
                                            << QByteArray(R"({"cmd":"off","relay":3,"id":"x"})")
                                            << QVector<int>{0, 0, 1, 0} << QVector<int>{1, 1, 0, 1};
        QTest::newRow("toggle 4 from off") << QByteArray() << QByteArray(R"({"cmd":"toggle","relay":4,"id":[1]})")
                                           << QVector<int>{0, 0, 0, 2} << QVector<int>{0, 0, 0, 1};
        QTest::newRow("toggle 1 from on") << QByteArray(R"({"cmd":"all-on"})")
                                          << QByteArray(R"({"cmd":"toggle","relay":1,"id":null})")
                                          << QVector<int>{1, 0, 0, 0} << QVector<int>{0, 1, 1, 1};
        QTest::newRow("all on") << QByteArray() << QByteArray(R"({"cmd":"all-on","id":2.5})")
                                << QVector<int>{2, 2, 2, 2} << QVector<int>{1, 1, 1, 1};
        QTest::newRow("all off after all on") << QByteArray(R"({"cmd":"all-on"})")
                                              << QByteArray(R"({"id":{"n":1},"cmd":"all-off"})")
                                              << QVector<int>{1, 1, 1, 1} << QVector<int>{0, 0, 0, 0};
        QTest::newRow("status") << QByteArray() << QByteArray(R"({"cmd":"status","id":"s"})") << QVector<int>{}
                                << QVector<int>{0, 0, 0, 0};
    }

    void each_command_is_answered_once_the_board_shows_it()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, line);
        QFETCH(QVector<int>, sent);
        QFETCH(QVector<int>, relays);
        connect_and_serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        if (!before.isEmpty()) {
            const auto reply = client.ask(before);
            QVERIFY(reply && (*reply)["ok"].toBool());
        }
        const auto first = board().received_frames().size();
        const auto reply = client.ask(line);
        QVERIFY(reply);
        QCOMPARE((*reply)["ok"], QJsonValue(true));

        std::array<bool, relay_count> expected{};
        for (int i = 0; i < relay_count; ++i)
            expected[static_cast<std::size_t>(i)] = relays[i] != 0;
        QCOMPARE(board().relays(), expected);
        QCOMPARE((*reply)["relays"].toObject(), relays_json(expected));
        QCOMPARE((*reply)["port"].toString().toStdString(), board().slave_path());
        QCOMPARE((*reply)["address"].toInt(), 1);
        // The id comes back as it was sent, whatever its type.
        const auto request = QJsonDocument::fromJson(line).object();
        QCOMPARE((*reply)["id"], request["id"]);

        const auto set = rig->set_frames_since(first);
        if (sent.isEmpty()) {
            QVERIFY(set.empty());
        } else {
            QCOMPARE(set.size(), std::size_t{1});
            QCOMPARE(set[0], set_frame({std::uint8_t(sent[0]), std::uint8_t(sent[1]), std::uint8_t(sent[2]),
                                        std::uint8_t(sent[3])}));
        }
        // What the reply says is what the core holds: the board's answer.
        QCOMPARE(core().reported_statuses()[1], std::uint8_t(relays[1] ? status_on : status_off));
    }

    void a_relay_is_named_by_its_name_or_its_number_as_text_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QVector<int>>("sent");  // actions of the one set frame; empty for none
        QTest::addColumn<QString>("error");      // empty: ok
        QTest::newRow("on pump") << QByteArray(R"({"cmd":"on","relay":"pump"})") << QVector<int>{0, 2, 0, 0}
                                 << QString();
        QTest::newRow("toggle by a name with a blank") << QByteArray(R"({"cmd":"toggle","relay":"fan 2"})")
                                                       << QVector<int>{0, 0, 0, 2} << QString();
        QTest::newRow("number as text") << QByteArray(R"({"cmd":"on","relay":"3"})") << QVector<int>{0, 0, 2, 0}
                                        << QString();
        QTest::newRow("unknown name") << QByteArray(R"({"cmd":"on","relay":"Pump","id":4})") << QVector<int>{}
                                      << QString("No relay is named 'Pump': the relays are 1 to 4, pump (2), fan 2 (4).");
    }

    void a_relay_is_named_by_its_name_or_its_number_as_text()
    {
        QFETCH(QByteArray, line);
        QFETCH(QVector<int>, sent);
        QFETCH(QString, error);
        service().set_relay_names({"", "pump", "", "fan 2"});
        connect_and_serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        const auto first = board().received_frames().size();
        const auto reply = client.ask(line);
        QVERIFY(reply);
        QCOMPARE((*reply)["ok"].toBool(), error.isEmpty());
        if (error.isEmpty())
            QCOMPARE((*reply)["names"].toObject(),
                     (QJsonObject{{"2", QString("pump")}, {"4", QString("fan 2")}}));
        else
            QCOMPARE((*reply)["error"].toString(), error);
        const auto set = rig->set_frames_since(first);
        QCOMPARE(set.size(), std::size_t(sent.isEmpty() ? 0 : 1));
        if (!sent.isEmpty())
            QCOMPARE(set[0], set_frame({std::uint8_t(sent[0]), std::uint8_t(sent[1]), std::uint8_t(sent[2]),
                                        std::uint8_t(sent[3])}));

        // A watcher hears the names too; a board without names sends none.
        socket_client watcher;
        QVERIFY(watcher.connect_to(path));
        watcher.send(R"({"cmd":"watch"})" "\n");
        const auto event = watcher.next();
        QVERIFY(event);
        QCOMPARE((*event)["names"].toObject()["2"].toString(), QString("pump"));
        service().set_relay_names({});
        const auto plain = client.ask(R"({"cmd":"status"})");
        QVERIFY(plain);
        QVERIFY(!plain->contains("names"));
    }

    void a_malformed_line_gets_usage_and_the_connection_goes_on_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // sent as is, newline included
        QTest::newRow("not JSON") << QByteArray("hello\n");
        QTest::newRow("empty") << QByteArray("\n");
        QTest::newRow("unknown command") << QByteArray(R"({"cmd":"explode"})" "\n");
        QTest::newRow("relay 0") << QByteArray(R"({"cmd":"on","relay":0})" "\n");
        QTest::newRow("relay 5") << QByteArray(R"({"cmd":"off","relay":5})" "\n");
        QTest::newRow("missing relay") << QByteArray(R"({"cmd":"toggle"})" "\n");
        QTest::newRow("relay by a name the board lacks") << QByteArray(R"({"cmd":"on","relay":"pump"})" "\n");
        QTest::newRow("array") << QByteArray(R"(["on",2])" "\n");
        QTest::newRow("over 1 KiB") << QByteArray("{\"cmd\":\"on\",\"relay\":2,\"pad\":\"") + QByteArray(3000, 'x') +
                                           QByteArray("\"}\n");
        QTest::newRow("NUL byte") << QByteArray("{\"cmd\":\"on\",\0\"relay\":2}\n", 24);
        QTest::newRow("binary") << QByteArray("\x01\x02\xff\xfe\x80\n", 6);
        QTest::newRow("invalid UTF-8") << QByteArray("{\"cmd\":\"on\",\"relay\":2,\"x\":\"\xc3\x28\"}\n");
    }

    void a_malformed_line_gets_usage_and_the_connection_goes_on()
    {
        QFETCH(QByteArray, bytes);
        connect_and_serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        const auto first = board().received_frames().size();
        client.send(bytes);
        const auto reply = client.next();
        QVERIFY(reply);
        QCOMPARE((*reply)["ok"], QJsonValue(false));
        QCOMPARE((*reply)["code"].toString(), QString("usage"));
        QVERIFY(!(*reply)["error"].toString().isEmpty());

        // Still usable, and exactly one answer for the bad line.
        const auto after = client.ask(R"({"cmd":"status","id":"after"})");
        QVERIFY(after);
        QCOMPARE((*after)["id"].toString(), QString("after"));
        QCOMPARE((*after)["ok"], QJsonValue(true));
        // Several ticks went by, and not one of them switched a relay.
        const auto target = board().frame_count() + 3;
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= target, deadline_ms);
        QVERIFY(rig->set_frames_since(first).empty());
        QCOMPARE(board().relays(), (std::array<bool, relay_count>{}));
    }

    void a_line_over_the_limit_in_pieces_is_answered_once()
    {
        connect_and_serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        for (int i = 0; i < 8; ++i) {
            client.send(QByteArray(600, 'y'));
            QVERIFY(QTest::qWaitFor([&] { return client.socket().bytesToWrite() == 0; }, deadline_ms));
        }
        client.send("\n{\"cmd\":\"status\",\"id\":9}\n");
        const auto usage = client.next();
        QVERIFY(usage);
        QCOMPARE((*usage)["code"].toString(), QString("usage"));
        const auto status = client.next();
        QVERIFY(status);
        QCOMPARE((*status)["id"].toInt(), 9);
    }

    void outcomes_of_a_board_that_does_not_oblige_data()
    {
        QTest::addColumn<QString>("board_does");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("code");
        QTest::newRow("silent: command times out") << "silent" << QByteArray(R"({"cmd":"on","relay":1})")
                                                   << "timeout";
        QTest::newRow("silent: status times out") << "silent" << QByteArray(R"({"cmd":"status"})") << "timeout";
        QTest::newRow("reports all off: refused") << "stuck" << QByteArray(R"({"cmd":"on","relay":3})")
                                                  << "refused";
        QTest::newRow("unplugged: port") << "unplugged" << QByteArray(R"({"cmd":"all-on"})") << "port";
        QTest::newRow("disconnected: port") << "disconnected" << QByteArray(R"({"cmd":"off","relay":1})") << "port";
    }

    void outcomes_of_a_board_that_does_not_oblige()
    {
        QFETCH(QString, board_does);
        QFETCH(QByteArray, line);
        QFETCH(QString, code);
        connect_and_serve();
        if (board_does == "silent") {
            board().set_silent(true);
            QTRY_COMPARE_WITH_TIMEOUT(core().link_now(), link_condition::silent, deadline_ms);
        } else if (board_does == "stuck") {
            board().set_answer_shaper([](const frame& answer) {
                const auto f = encode_status(answer[1], answer[2], {status_off, status_off, status_off, status_off});
                return std::vector<pty_board::chunk>{{{f.begin(), f.end()}, std::chrono::milliseconds(0)}};
            });
        } else if (board_does == "unplugged") {
            board().close_line();
            QTRY_COMPARE_WITH_TIMEOUT(core().link_now(), link_condition::lost, deadline_ms);
        } else {
            rig->disconnect();
            QCOMPARE(core().link_now(), link_condition::lost);
        }
        socket_client client;
        QVERIFY(client.connect_to(path));
        const auto reply = client.ask(line, 10000);
        QVERIFY(reply);
        QCOMPARE((*reply)["ok"], QJsonValue(false));
        QCOMPARE((*reply)["code"].toString(), code);
        QVERIFY(!(*reply)["error"].toString().isEmpty());
        if (code == "refused")
            QCOMPARE((*reply)["relays"].toObject(), relays_json({}));
    }

    void a_full_queue_answers_busy_and_sends_nothing_for_it()
    {
        connect_and_serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        // The queue is shared with every other client of the controller. A
        // tick would send one and make room, so none comes until the reply.
        rig->session().timer().stop();
        for (std::size_t t = 0; t < client_queue_capacity; ++t)
            QVERIFY(core().queue_command(single_relay(1, action_on), nullptr));
        const auto reply = client.ask(R"({"cmd":"on","relay":4,"id":"late"})");
        QVERIFY(reply);
        QCOMPARE((*reply)["code"].toString(), QString("busy"));
        QCOMPARE((*reply)["id"].toString(), QString("late"));
        rig->session().timer().start();
        QTRY_COMPARE_WITH_TIMEOUT(core().queued_commands(), std::size_t{0}, 15000);
        QVERIFY(!board().relays()[3]);
        QVERIFY(board().relays()[0]);
    }

    void the_33rd_client_is_refused_busy_and_closed()
    {
        connect_and_serve();
        std::vector<std::unique_ptr<socket_client>> clients;
        for (int i = 0; i < 32; ++i) {
            clients.push_back(std::make_unique<socket_client>());
            QVERIFY(clients.back()->connect_to(path));
        }
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{32}, deadline_ms);
        socket_client extra;
        extra.connect_to(path);
        const auto refusal = extra.next();
        QVERIFY(refusal);
        QCOMPARE((*refusal)["code"].toString(), QString("busy"));
        QVERIFY(extra.wait_closed());
        QCOMPARE(service().client_count(), std::size_t{32});
        const auto reply = clients.back()->ask(R"({"cmd":"status"})");
        QVERIFY(reply && (*reply)["ok"].toBool());
        // One leaves; a newcomer is then taken.
        clients.front().reset();
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{31}, deadline_ms);
        socket_client later;
        QVERIFY(later.connect_to(path));
        const auto welcome = later.ask(R"({"cmd":"status"})");
        QVERIFY(welcome && (*welcome)["ok"].toBool());
    }

    void a_watcher_that_never_reads_is_dropped_while_polling_goes_on()
    {
        connect_and_serve();
        socket_client greedy;
        QVERIFY(greedy.connect_to(path));
        socket_client poller;
        QVERIFY(poller.connect_to(path));
        QByteArray flood = R"({"cmd":"watch"})" "\n";
        for (int i = 0; i < 4000; ++i)
            flood += R"({"cmd":"status"})" "\n";
        const auto frames_before = board().frame_count();
        greedy.send(flood);
        // The greedy client reads nothing at all; the server must cut it off.
        QTRY_VERIFY_WITH_TIMEOUT(greedy.socket().state() == QLocalSocket::UnconnectedState ||
                                     service().client_count() == 1,
                                 10000);
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{1}, deadline_ms);
        const auto reply = poller.ask(R"({"cmd":"on","relay":2})");
        QVERIFY(reply && (*reply)["ok"].toBool());
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= frames_before + 10, deadline_ms);
        // The ticks never stalled while the flood was answered: not so long
        // that the board would have seemed silent. A late wake-up on a loaded
        // machine is allowed; answering the flood in one go is not.
        const auto log = board().received_frames();
        std::chrono::steady_clock::duration longest{};
        for (std::size_t i = log.size() - 10; i < log.size(); ++i)
            longest = std::max(longest, log[i].arrival - log[i - 1].arrival);
        const double longest_ms = std::chrono::duration<double, std::milli>(longest).count();
        qInfo("longest interval between frames meanwhile: %.1f ms", longest_ms);
        QVERIFY2(longest < watchdog_time, qPrintable(QString("%1 ms").arg(longest_ms)));
    }

    void a_watcher_sees_unplug_and_replug()
    {
        const std::string link = folder->path().toStdString() + "/board-link";
        board().set_link_path(link);
        connect_and_serve(link);
        socket_client watcher;
        QVERIFY(watcher.connect_to(path));
        watcher.send(R"({"cmd":"watch"})" "\n");
        const auto first = watcher.next();
        QVERIFY(first);
        QCOMPARE((*first)["event"].toString(), QString("state"));
        QCOMPARE((*first)["link"].toString(), QString("answering"));
        QCOMPARE((*first)["relays"].toObject(), relays_json({}));

        board().close_line();
        QString link_now;
        QJsonObject relays_now;
        auto read_until = [&](const QString& wanted) {
            while (link_now != wanted) {
                const auto event = watcher.next(deadline_ms);
                if (!event)
                    return false;
                link_now = (*event)["link"].toString();
                relays_now = (*event)["relays"].toObject();
            }
            return true;
        };
        QVERIFY(read_until("lost"));
        // The watchdog then turns every relay to unknown: still lost, yet a change.
        QVERIFY(QTest::qWaitFor([&] {
            const auto event = watcher.next(200);
            if (event)
                relays_now = (*event)["relays"].toObject();
            return relays_now["1"].toString() == "unknown";
        }, deadline_ms));

        board().reopen_line();
        QVERIFY(read_until("answering"));
        QCOMPARE(relays_now, relays_json({}));
    }

    void a_stale_socket_is_replaced_and_a_live_one_is_not()
    {
        QVERIFY(QDir().mkpath(QString::fromStdString(path).section('/', 0, -2)));
        QVERIFY(testing::leave_dead_socket(path));
        serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{1}, deadline_ms);

        control_socket second(rig->loop(), core());
        const auto refused = second.listen(path, socket_access::owner_only);
        QVERIFY(!refused.ok);
        QVERIFY2(refused.reason.find("(pid " + std::to_string(::getpid()) + ")") != std::string::npos,
                 refused.reason.c_str());
        QVERIFY(service().is_listening());
    }

    void a_client_that_ends_its_input_is_answered_then_closed_data()
    {
        QTest::addColumn<QString>("board_does");
        QTest::addColumn<QByteArray>("bytes");      // sent, then shutdown(SHUT_WR)
        QTest::addColumn<QStringList>("outcomes");  // "id:ok" or "id:code", in any order
        QTest::addColumn<QVector<int>>("relays");   // the board's afterwards

        QTest::newRow("on 4") << "" << QByteArray(R"({"cmd":"on","relay":4,"id":"a"})" "\n")
                              << QStringList{"a:ok"} << QVector<int>{0, 0, 0, 1};
        QTest::newRow("status") << "" << QByteArray(R"({"cmd":"status","id":"s"})" "\n") << QStringList{"s:ok"}
                                << QVector<int>{0, 0, 0, 0};
        QTest::newRow("status and on 2") << ""
                                         << QByteArray(R"({"cmd":"on","relay":2,"id":"c"})" "\n"
                                                       R"({"cmd":"status","id":"s"})" "\n")
                                         << QStringList{"c:ok", "s:ok"} << QVector<int>{0, 1, 0, 0};
        QTest::newRow("the last line without its newline")
            << "" << QByteArray(R"({"cmd":"all-on","id":"x"})") << QStringList{"x:ok"} << QVector<int>{1, 1, 1, 1};
        QTest::newRow("a bad line") << "" << QByteArray("hello\n") << QStringList{":usage"}
                                    << QVector<int>{0, 0, 0, 0};
        QTest::newRow("silent board: the command times out")
            << "silent" << QByteArray(R"({"cmd":"on","relay":3,"id":"t"})" "\n") << QStringList{"t:timeout"}
            << QVector<int>{0, 0, 1, 0};  // switched, but never said so
    }

    void a_client_that_ends_its_input_is_answered_then_closed()
    {
        QFETCH(QString, board_does);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, outcomes);
        QFETCH(QVector<int>, relays);
        connect_and_serve();
        if (board_does == "silent") {
            board().set_silent(true);
            QTRY_COMPARE_WITH_TIMEOUT(core().link_now(), link_condition::silent, deadline_ms);
        }
        testing::raw_client client;
        QVERIFY(client.connect_to(path));
        QVERIFY(client.send(bytes));
        client.end_input();

        QStringList seen;
        for (int i = 0; i < outcomes.size(); ++i) {
            const auto reply = client.next(10000);
            QVERIFY2(reply, qPrintable(seen.join(' ')));
            const auto code = (*reply)["ok"].toBool() ? QString("ok") : (*reply)["code"].toString();
            seen << (*reply)["id"].toString() + ":" + code;
        }
        seen.sort();
        outcomes.sort();
        QCOMPARE(seen, outcomes);
        QVERIFY(client.wait_closed());
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{0}, deadline_ms);
        std::array<bool, relay_count> expected{};
        for (int i = 0; i < relay_count; ++i)
            expected[static_cast<std::size_t>(i)] = relays[i] != 0;
        QCOMPARE(board().relays(), expected);
    }

    void a_watch_goes_on_after_the_end_of_input_until_the_peer_leaves()
    {
        connect_and_serve();
        testing::raw_client watcher;
        QVERIFY(watcher.connect_to(path));
        QVERIFY(watcher.send(R"({"cmd":"watch"})" "\n"));
        watcher.end_input();
        const auto first = watcher.next();
        QVERIFY(first);
        QCOMPARE((*first)["event"].toString(), QString("state"));

        socket_client other;
        QVERIFY(other.connect_to(path));
        QVERIFY(other.ask(R"({"cmd":"on","relay":1})"));
        const auto change = watcher.next();
        QVERIFY(change);
        QCOMPARE((*change)["relays"].toObject()["1"].toString(), QString("on"));
        QVERIFY(!watcher.is_closed_by_server());

        // Gone both ways: noticed without another event to send.
        QCOMPARE(service().client_count(), std::size_t{2});
        watcher.close();
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{1}, deadline_ms);
    }

    void the_socket_folder_data()
    {
        QTest::addColumn<int>("folder_mode");      // -1: missing; -2: a plain file in its place
        QTest::addColumn<bool>("another_owner");   // the folder, or with a sticky folder the socket's path
        QTest::addColumn<bool>("group");           // socket_access::group
        QTest::addColumn<QString>("group_name");   // passed to listen
        QTest::addColumn<QString>("refusal");      // in the one-line reason; empty: served
        QTest::addColumn<int>("folder_after");

        QTest::newRow("missing, user: made 0700") << -1 << false << false << "" << "" << 0700;
        QTest::newRow("missing, group nogroup: made 0750 for it") << -1 << false << true << "nogroup" << "" << 0750;
        QTest::newRow("missing, a group that does not exist: made 0755")
            << -1 << false << true << "relay-panel-no-such-group" << "" << 0755;
        QTest::newRow("ours 0750, user: kept") << 0750 << false << false << "" << "" << 0750;
        QTest::newRow("ours 0755, group: kept") << 0755 << false << true << "nogroup" << "" << 0755;
        QTest::newRow("sticky 1777, path free: kept") << 01777 << false << false << "" << "" << 01777;
        QTest::newRow("sticky 1777, path of another user: refused")
            << 01777 << true << false << "" << "belongs to user nobody in the shared folder" << 01777;
        QTest::newRow("group-writable 0770: refused") << 0770 << false << false << "" << "has mode 0770" << 0770;
        QTest::newRow("world-writable 0777, not sticky: refused")
            << 0777 << false << true << "" << "has mode 0777" << 0777;
        QTest::newRow("another user's 0755: refused")
            << 0755 << true << false << "" << "belongs to user nobody, who could replace the socket" << 0755;
        QTest::newRow("a file in its place: refused") << -2 << false << false << "" << "is not a folder" << 0;
    }

    // An existing folder may be /tmp or /run: its mode is never changed, and
    // one that would let another user replace the socket is refused.
    void the_socket_folder()
    {
        QFETCH(int, folder_mode);
        QFETCH(bool, another_owner);
        QFETCH(bool, group);
        QFETCH(QString, group_name);
        QFETCH(QString, refusal);
        QFETCH(int, folder_after);
        constexpr uid_t nobody = 65534;
        if ((another_owner || group_name == "nogroup") && ::geteuid() != 0)
            QSKIP("giving a file to another user or group takes root");
        const std::string socket_folder = QString::fromStdString(path).section('/', 0, -2).toStdString();
        if (folder_mode == -2) {
            QVERIFY(QFile(QString::fromStdString(socket_folder)).open(QIODevice::WriteOnly));
        } else if (folder_mode >= 0) {
            QVERIFY(QDir().mkpath(QString::fromStdString(socket_folder)));
            QCOMPARE(::chmod(socket_folder.c_str(), static_cast<mode_t>(folder_mode)), 0);
            if (another_owner && (folder_mode & S_ISVTX)) {
                QVERIFY(QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly));
                QCOMPARE(::chown(path.c_str(), nobody, static_cast<gid_t>(-1)), 0);
            } else if (another_owner) {
                QCOMPARE(::chown(socket_folder.c_str(), nobody, static_cast<gid_t>(-1)), 0);
            }
        }

        const auto result = service().listen(path, group ? socket_access::group : socket_access::owner_only,
                                            group_name.toStdString());
        if (folder_mode != -2)
            QCOMPARE(testing::mode_of(socket_folder), mode_t(folder_after));
        if (!refusal.isEmpty()) {
            QVERIFY(!result.ok);
            QVERIFY2(result.reason.find(refusal.toStdString()) != std::string::npos, result.reason.c_str());
            QVERIFY2(result.reason.find(socket_folder) != std::string::npos ||
                         result.reason.find(path) != std::string::npos,
                     result.reason.c_str());
            QVERIFY(result.reason.find('\n') == std::string::npos);
            QVERIFY(!service().is_listening());
            if (!another_owner)
                QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
            return;
        }
        QVERIFY2(result.ok, result.reason.c_str());
        QCOMPARE(testing::mode_of(path), mode_t(group ? 0660 : 0600));
        const auto* given = group_name.isEmpty() ? nullptr : ::getgrnam(group_name.toLocal8Bit().constData());
        const gid_t socket_group = given ? given->gr_gid : ::getegid();
        QCOMPARE(testing::group_of(path), socket_group);
        if (folder_mode == -1)
            QCOMPARE(testing::group_of(socket_folder), socket_group);
        socket_client client;
        QVERIFY(client.connect_to(path));
    }

    void close_removes_the_socket()
    {
        serve();
        socket_client client;
        QVERIFY(client.connect_to(path));
        QTRY_COMPARE_WITH_TIMEOUT(service().client_count(), std::size_t{1}, deadline_ms);
        service().close();
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
        QVERIFY(client.wait_closed());
        QCOMPARE(service().client_count(), std::size_t{0});
    }
};

}  // namespace relay

QTEST_GUILESS_MAIN(relay::control_socket_test)
#include "control_socket_test.moc"
