// The connection to the broker over time: a broker that dies and comes
// back, a daemon killed outright, logins right and wrong, TLS with the right
// and the wrong CA. Each waits on reconnect delays of a second and more.

#include "board_fixture.h"
#include "mqtt/board_id.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QtTest>

#include <algorithm>
#include <fstream>

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

    void a_killed_daemon_leaves_offline_on_each_board_by_its_last_will()
    {
        test_broker broker;
        std::string why;
        QVERIFY2(broker.start(why), why.c_str());
        test_client watcher(broker.port(), {"relay-panel/#"});
        QVERIFY(wait_until([&] { return watcher.ready(); }));
        const std::vector<std::string> boards{"bench", "cabinet"};

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationDirPath() + "/mqtt_bridge_child",
                    {QString::fromStdString(broker.url()), "bench", "cabinet"});
        QVERIFY(child.waitForStarted(5000));
        for (const auto& board : boards)
            QVERIFY(wait_until([&] { return watcher.last(board_topics("relay-panel", board).availability()) == "online"; }));

        child.kill();  // SIGKILL: no clean disconnect, the broker speaks for it
        QVERIFY(child.waitForFinished(5000));
        for (const auto& board : boards) {
            const auto availability = board_topics("relay-panel", board).availability();
            QVERIFY2(wait_until([&] { return watcher.last(availability) == "offline"; }), availability.c_str());
            // Told by the broker, not by a goodbye from the child.
            QVERIFY(watcher.messages_on(availability).back().retained == false);
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
        const auto started = start_mqtt("mqtt://127.0.0.1:1", {{"user", "u"}, {"password_file", file}}, {});
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
