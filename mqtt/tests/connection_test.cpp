// The connection to the broker over time: a broker that dies and comes
// back, a daemon killed outright, logins right and wrong, TLS with the right
// and the wrong CA, listeners that never let a session start. Each waits on
// reconnect delays of a second and more.

#include "board_fixture.h"
#include "loop/epoll_loop.h"
#include "mqtt/board_id.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QtTest>

#include <algorithm>
#include <fstream>
#include <thread>

#include <sys/stat.h>

namespace relay::mqtt::testing {

namespace {

constexpr std::chrono::milliseconds retry_deadline{8000};

std::size_t log_count(const board_rig& rig, const std::string& words)
{
    return static_cast<std::size_t>(std::count_if(rig.log.begin(), rig.log.end(), [&](const std::string& line) {
        return line.find(words) != std::string::npos;
    }));
}

// A CA, a server certificate for localhost signed by it, and a second CA
// that signed nothing the broker has.
struct test_certificates {
    std::string ca, other_ca, cert, key;
};

bool make_certificates(const QString& dir, test_certificates& out, std::string& why)
{
    const auto f = [&](const char* name) { return dir + "/" + name; };
    for (const char* ca : {"ca", "other-ca"})
        if (!run_tool("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                  QString("/CN=relay-panel test %1").arg(ca), "-keyout", f(ca) + ".key", "-out",
                                  f(ca) + ".pem"},
                      why))
            return false;
    if (!run_tool("openssl", {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                              f("server.key"), "-out", f("server.csr")},
                  why))
        return false;
    QFile ext(f("san.ext"));
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n") < 0)
        return false;
    ext.close();
    if (!run_tool("openssl", {"x509", "-req", "-in", f("server.csr"), "-CA", f("ca.pem"), "-CAkey", f("ca.key"),
                              "-CAcreateserial", "-days", "2", "-extfile", f("san.ext"), "-out", f("server.pem")},
                  why))
        return false;
    out = {f("ca.pem").toStdString(), f("other-ca.pem").toStdString(), f("server.pem").toStdString(),
           f("server.key").toStdString()};
    return true;
}

}  // namespace

class connection_test : public QObject {
    Q_OBJECT

    board_rig rig;

private slots:
    void cleanup() { rig.stop(); }

    void a_restarted_broker_gets_everything_again_and_polling_never_stalls()
    {
        const auto failed = rig.start();
        QVERIFY2(failed.empty(), failed.c_str());
        rig.watcher->publish(rig.topics.relay_set(3), "ON");
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.relay_state(3)) == "ON"; }));

        rig.watcher.reset();
        rig.broker->kill();
        QVERIFY(wait_until([&] { return log_count(rig, "the connection was lost") +
                                        log_count(rig, "Connection refused") > 0; }));
        QVERIFY(!rig.bridge->is_connected());
        // The board is polled all along: twenty frames take two seconds.
        const auto before = rig.board().frame_count();
        QVERIFY(wait_until([&] { return rig.board().frame_count() >= before + 20; }, std::chrono::milliseconds(4000)));
        QCOMPARE(rig.core().link_now(), link_condition::answering);

        std::string why;
        QVERIFY2(rig.broker->start(why), why.c_str());
        test_client watcher(rig.broker->port(), {"relay-panel/#", "homeassistant/#"});
        QVERIFY(wait_until([&] { return watcher.ready(); }));
        // A fresh broker without persistence knew nothing: all of this is
        // published anew by the bridge once it is back.
        QVERIFY(wait_until([&] { return watcher.last(rig.topics.availability()) == "online"; }, retry_deadline));
        QVERIFY(wait_until([&] { return watcher.last(rig.topics.relay_state(3)) == "ON"; }));
        for (int relay : {1, 2, 4})
            QVERIFY(wait_until([&] { return watcher.last(rig.topics.relay_state(relay)) == "OFF"; }));
        const auto node = safe_id(QSysInfo::machineHostName().toStdString()) + "_bench";
        for (int relay = 1; relay <= relay_count; ++relay)
            QVERIFY(wait_until([&] {
                return watcher.last("homeassistant/switch/" + node + "/relay" + std::to_string(relay) + "/config")
                    .has_value();
            }));
        // And commands work again.
        watcher.publish(rig.topics.relay_set(3), "OFF");
        QVERIFY(wait_until([&] { return !rig.board().relays()[2]; }));
    }

    // The will is set on every connection, the ones after a broker came
    // back too; a host given by name connects from a lookup's thread.
    void a_killed_daemon_leaves_offline_on_each_board_by_its_last_will_data()
    {
        QTest::addColumn<bool>("broker_restarts");
        QTest::addColumn<QString>("host");
        QTest::newRow("first connection") << false << "127.0.0.1";
        QTest::newRow("after the broker came back") << true << "127.0.0.1";
        QTest::newRow("after the broker came back, host by name") << true << "localhost";
    }

    void a_killed_daemon_leaves_offline_on_each_board_by_its_last_will()
    {
        QFETCH(bool, broker_restarts);
        QFETCH(QString, host);
        test_broker broker;
        std::string why;
        QVERIFY2(broker.start(why), why.c_str());
        auto watcher = std::make_unique<test_client>(broker.port(), std::vector<std::string>{"relay-panel/#"});
        QVERIFY(wait_until([&] { return watcher->ready(); }));
        const std::vector<std::string> boards{"bench", "cabinet"};
        const auto all_say = [&](const char* payload, std::chrono::milliseconds limit) {
            for (const auto& board : boards)
                if (!wait_until([&] { return watcher->last(board_topics("relay-panel", board).availability()) == payload; },
                                limit))
                    return false;
            return true;
        };

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationDirPath() + "/mqtt_bridge_child",
                    {"mqtt://" + host + ":" + QString::number(broker.port()), "bench", "cabinet"});
        QVERIFY(child.waitForStarted(5000));
        QVERIFY(all_say("online", deadline));
        if (broker_restarts) {
            watcher.reset();
            broker.kill();
            QVERIFY2(broker.start(why), why.c_str());
            watcher = std::make_unique<test_client>(broker.port(), std::vector<std::string>{"relay-panel/#"});
            QVERIFY(wait_until([&] { return watcher->ready(); }));
            // A fresh broker knew nothing: "online" comes from the child's
            // connections coming back.
            QVERIFY(all_say("online", retry_deadline));
        }

        child.kill();  // SIGKILL: no clean disconnect, the broker speaks for it
        QVERIFY(child.waitForFinished(5000));
        for (const auto& board : boards) {
            const auto availability = board_topics("relay-panel", board).availability();
            QVERIFY2(wait_until([&] { return watcher->last(availability) == "offline"; }), availability.c_str());
            // Told by the broker, not by a goodbye from the child.
            QVERIFY(watcher->messages_on(availability).back().retained == false);
            // And kept for a client that only reads the board's topic later.
            test_client late(broker.port(), {availability});
            QVERIFY(wait_until([&] { return late.last(availability) == "offline"; }));
            QVERIFY(late.messages_on(availability).back().retained);
        }
    }

    void a_login_with_the_right_password_connects_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right password") << "correct horse" << true;
        QTest::newRow("wrong password") << "battery staple" << false;
    }

    void a_login_with_the_right_password_connects()
    {
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        broker_options options;
        options.users = {{"relayd", "correct horse"}, {"watcher", "watcher pw"}};
        rig.broker = std::make_unique<test_broker>(options);
        std::string why;
        QVERIFY2(rig.broker->start(why), why.c_str());
        const auto unanswered = rig.start_board();
        QVERIFY2(unanswered.empty(), unanswered.c_str());
        rig.watcher = std::make_unique<test_client>(rig.broker->port(), std::vector<std::string>{"relay-panel/#"},
                                                    "", "watcher", "watcher pw");
        QVERIFY(wait_until([&] { return rig.watcher->ready(); }));

        const auto file = rig.broker->dir().filePath("relayd.pw").toStdString();
        std::ofstream(file) << password.toStdString() << "\n";
        QCOMPARE(::chmod(file.c_str(), 0600), 0);
        const std::map<std::string, std::string> config{
            {"client_id", client_id}, {"user", "relayd"}, {"password_file", file}};
        if (accepted) {
            const auto failed = rig.start_bridge(config);
            QVERIFY2(failed.empty(), failed.c_str());
            QVERIFY(!rig.log_has("refused"));
            return;
        }
        QVERIFY(rig.start_bridge(config, false).empty());
        // Told in plain words, and tried again after a second.
        QVERIFY(wait_until([&] { return log_count(rig, "refused the login") >= 2; }, retry_deadline));
        QVERIFY(!rig.log_has("connected to"));
        QVERIFY(!rig.watcher->last(rig.topics.availability()).has_value());
    }

    void a_readable_password_file_is_refused()
    {
        QTemporaryDir dir;
        const auto file = dir.filePath("relayd.pw").toStdString();
        std::ofstream(file) << "secret\n";
        QCOMPARE(::chmod(file.c_str(), 0644), 0);
        const auto started = start_mqtt(rig.loop, "mqtt://127.0.0.1:1", {{"user", "u"}, {"password_file", file}}, {});
        QVERIFY(!started.bridge);
        QVERIFY2(started.error.find("open to other users") != std::string::npos, started.error.c_str());
    }

    void tls_connects_with_the_right_ca_and_is_refused_with_another_data()
    {
        QTest::addColumn<bool>("right_ca");
        QTest::newRow("right CA") << true;
        QTest::newRow("wrong CA") << false;
    }

    void tls_connects_with_the_right_ca_and_is_refused_with_another()
    {
        QFETCH(bool, right_ca);
        QTemporaryDir certs;
        test_certificates files;
        std::string why;
        QVERIFY2(make_certificates(certs.path(), files, why), why.c_str());
        broker_options options;
        options.ca_file = files.ca;
        options.cert_file = files.cert;
        options.key_file = files.key;
        rig.broker = std::make_unique<test_broker>(options);
        QVERIFY2(rig.broker->start(why), why.c_str());
        const auto unanswered = rig.start_board();
        QVERIFY2(unanswered.empty(), unanswered.c_str());
        rig.watcher = std::make_unique<test_client>(rig.broker->port(), std::vector<std::string>{"relay-panel/#"},
                                                    files.ca);
        QVERIFY(wait_until([&] { return rig.watcher->ready(); }));

        const std::map<std::string, std::string> config{{"client_id", client_id},
                                                        {"ca_file", right_ca ? files.ca : files.other_ca}};
        if (right_ca) {
            const auto failed = rig.start_bridge(config);
            QVERIFY2(failed.empty(), failed.c_str());
            // The bridge may not have subscribed yet when the first "ON"
            // reaches the broker; "ON" again is harmless.
            QVERIFY(wait_until([&] {
                rig.watcher->publish(rig.topics.relay_set(2), "ON");
                return wait_until([&] { return rig.watcher->last(rig.topics.relay_state(2)) == "ON"; }, std::chrono::milliseconds(1000));
            }));
            return;
        }
        QVERIFY(rig.start_bridge(config, false).empty());
        QVERIFY(wait_until([&] { return log_count(rig, "the TLS handshake failed") >= 2; }, retry_deadline));
        QVERIFY2(log_count(rig, "certificate verify failed") >= 1, rig.log.front().c_str());
        QVERIFY(!rig.log_has("connected to"));
    }

    // Whatever a broker does, the connection's work on the board's loop
    // never waits for it: the board is polled all along. A refusal or a
    // hang-up, in the middle of a TLS handshake too, is told and tried
    // again, rather than read from in a spin until the keep-alive runs out.
    void a_broker_that_never_lets_a_session_start_holds_up_no_poll_data()
    {
        QTest::addColumn<QString>("broker");
        QTest::addColumn<bool>("tls");
        for (const bool tls : {false, true}) {
            const QString with = tls ? ", TLS" : "";
            QTest::newRow(qPrintable("nothing listening" + with)) << "nothing listening" << tls;
            QTest::newRow(qPrintable("silent" + with)) << "silent" << tls;
            QTest::newRow(qPrintable("hangs up" + with)) << "hangs up" << tls;
        }
    }

    void a_broker_that_never_lets_a_session_start_holds_up_no_poll()
    {
        QFETCH(QString, broker);
        QFETCH(bool, tls);
        mute_listener listener(broker == "hangs up" ? mute_listener::manner::hang_up : mute_listener::manner::silent);
        const test_broker never_started;
        const auto port = broker == "nothing listening" ? never_started.port() : listener.port();
        std::map<std::string, std::string> config{{"client_id", client_id}};
        QTemporaryDir certs;
        if (tls) {
            test_certificates files;
            std::string why;
            QVERIFY2(make_certificates(certs.path(), files, why), why.c_str());
            config["ca_file"] = files.ca;
        }
        const auto unanswered = rig.start_board();
        QVERIFY2(unanswered.empty(), unanswered.c_str());
        const auto url = std::string(tls ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(port);
        QVERIFY(rig.start_bridge(config, false, url).empty());

        if (broker == "silent")
            // The CONNECT, or the TLS handshake's first message, went out.
            QVERIFY(wait_until([&] { return listener.bytes_heard() > 0; }));
        else
            QVERIFY2(wait_until([&] { return log_count(rig, "trying again") >= 2; }, retry_deadline),
                     rig.log.empty() ? "nothing logged" : rig.log.back().c_str());
        // Twenty frames take two seconds.
        const auto before = rig.board().frame_count();
        QVERIFY(wait_until([&] { return rig.board().frame_count() >= before + 20; }, std::chrono::milliseconds(4000)));
        QCOMPARE(rig.core().link_now(), link_condition::answering);
        QVERIFY(!rig.bridge->is_connected());
        QVERIFY(!rig.log_has("connected to"));
    }

    // relayd's own loop, without Qt: the connection connects, hears its
    // subscription on the loop's thread, comes back after the broker did,
    // and its will is set again on the new connection.
    void on_relayds_epoll_loop_a_connection_comes_back_with_its_will_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("address") << "127.0.0.1";
        QTest::newRow("host by name") << "localhost";
    }

    void on_relayds_epoll_loop_a_connection_comes_back_with_its_will()
    {
        QFETCH(QString, host);
        test_broker broker;
        std::string why;
        QVERIFY2(broker.start(why), why.c_str());
        const auto parsed = parse_mqtt_settings("mqtt://" + host.toStdString() + ":" + std::to_string(broker.port()),
                                                {{"client_id", "relayd-epoll"}}, "test");
        QVERIFY(parsed.settings);

        epoll_loop loop;
        const auto loop_thread = std::this_thread::get_id();
        int connects = 0;
        std::vector<std::string> failures;
        std::vector<std::string> heard;
        bool elsewhere = false;
        connection_events events;
        events.connected = [&] {
            ++connects;
            elsewhere = elsewhere || std::this_thread::get_id() != loop_thread;
        };
        events.disconnected = [&](const std::string& why_lost) { failures.push_back(why_lost); };
        events.message = [&](const std::string& topic, const std::string& payload, bool) {
            heard.push_back(topic + " " + payload);
            elsewhere = elsewhere || std::this_thread::get_id() != loop_thread;
        };
        const std::string will_topic = "relay-panel/epoll/availability";
        auto connection = std::make_unique<mqtt_connection>(loop, *parsed.settings, "", last_will{will_topic, "offline"},
                                                            std::vector<std::string>{"relay-panel/epoll/set"}, events);
        loop_timer keep_alive(loop, [&] { connection->keep_alive(); });
        keep_alive.start_every(keep_alive_period);
        const auto turning_until = [&](const std::function<bool()>& done, std::chrono::milliseconds limit) {
            return wait_until(
                [&] {
                    loop.run_once(std::chrono::milliseconds(0));
                    return done();
                },
                limit);
        };
        connection->start();
        for (int round = 1; round <= 2; ++round) {
            QVERIFY2(turning_until([&] { return connects == round; }, retry_deadline),
                     failures.empty() ? "no failure told" : failures.back().c_str());
            test_client watcher(broker.port(), {"relay-panel/#"});
            QVERIFY(turning_until([&] { return watcher.ready(); }, deadline));
            QVERIFY(connection->publish(will_topic, "online", true));
            QVERIFY(turning_until([&] { return watcher.last(will_topic) == "online"; }, deadline));
            QVERIFY(watcher.publish("relay-panel/epoll/set", "round " + std::to_string(round)));
            QVERIFY(turning_until([&] { return heard.size() == static_cast<std::size_t>(round); }, deadline));
            QCOMPARE(heard.back(), "relay-panel/epoll/set round " + std::to_string(round));
            if (round == 1) {
                broker.kill();
                QVERIFY(turning_until([&] { return !failures.empty(); }, deadline));
                QVERIFY(!connection->is_connected());
                QVERIFY2(broker.start(why), why.c_str());
            }
        }
        QVERIFY(!elsewhere);

        // Gone without a goodbye, as when relayd is killed: the broker
        // speaks for it.
        test_client watcher(broker.port(), {will_topic});
        QVERIFY(turning_until([&] { return watcher.last(will_topic) == "online"; }, deadline));
        keep_alive.stop();
        connection.reset();
        QVERIFY(turning_until([&] { return watcher.last(will_topic) == "offline"; }, deadline));
    }

    void a_retained_command_waiting_on_the_broker_switches_nothing()
    {
        rig.broker = std::make_unique<test_broker>();
        std::string why;
        QVERIFY2(rig.broker->start(why), why.c_str());
        {
            test_client stray(rig.broker->port(), {"relay-panel/bench/relay/1/set"});
            QVERIFY(wait_until([&] { return stray.ready(); }));
            QVERIFY(stray.publish("relay-panel/bench/relay/1/set", "ON", true));
            QVERIFY(wait_until([&] { return stray.last("relay-panel/bench/relay/1/set").has_value(); }));
        }
        const auto unanswered = rig.start_board();
        QVERIFY2(unanswered.empty(), unanswered.c_str());
        rig.watcher = std::make_unique<test_client>(rig.broker->port(), std::vector<std::string>{"relay-panel/#"});
        QVERIFY(wait_until([&] { return rig.watcher->ready(); }));
        QVERIFY(rig.start_bridge({{"client_id", client_id}}, false).empty());
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
        QVERIFY(rig.watcher->last(rig.topics.error())->find("retained command is ignored") != std::string::npos);
        const auto target = rig.board().frame_count() + 3;
        QVERIFY(wait_until([&] { return rig.board().frame_count() >= target; }));
        QCOMPARE(rig.set_commands().size(), std::size_t{0});
    }
};

}  // namespace relay::mqtt::testing

QTEST_GUILESS_MAIN(relay::mqtt::testing::connection_test)
#include "connection_test.moc"
