// relayd on an MQTT broker, all parts real: relayd as a child process, a
// mosquitto broker on a free port of 127.0.0.1, simulated boards on
// pseudo-terminals, and a plain client outside watching and commanding.

#include "cli/exit_codes.h"
#include "relayctl_process.h"
#include "mqtt/board_id.h"
#include "relayd_process.h"
#include "sim/pty_board.h"
#include "test_broker.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <string>

using namespace std::chrono_literals;

namespace relay::relayd::testing {
namespace {

using cli::testing::run_relayctl;
using mqtt::testing::test_broker;
using mqtt::testing::test_client;
using mqtt::testing::wait_until;

QRegularExpression line(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption);
}

// A board given by --port is known by its device and address, but a
// pseudo-terminal's number is new each time: /dev/pts/7 at address 1 is
// pty-1.
std::string id_of_pty(int address) { return "pty-" + std::to_string(address); }

// A board's node in Home Assistant's ids: this host and its id.
std::string node_of(const std::string& board)
{
    return mqtt::safe_id(QSysInfo::machineHostName().toStdString()) + "_" + board;
}

// Every discovery topic of a board.
std::vector<std::string> discovery_topics(const std::string& board)
{
    std::vector<std::string> topics;
    for (int relay = 1; relay <= 4; ++relay)
        topics.push_back("homeassistant/switch/" + node_of(board) + "/relay" + std::to_string(relay) + "/config");
    topics.push_back("homeassistant/binary_sensor/" + node_of(board) + "/link/config");
    return topics;
}

std::string availability(const std::string& board) { return "relay-panel/" + board + "/availability"; }

bool write_file(const QString& path, const QByteArray& text, QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    return file.setPermissions(mode);
}

}  // namespace

class relayd_mqtt_test : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        std::string why;
        // relayd remembers its discovery messages here, not in the home folder.
        state_home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", state_home->path().toUtf8());
        // Its sockets' usual paths are named after the pseudo-terminals,
        // whose numbers other tests' boards give up and take again.
        qputenv("XDG_RUNTIME_DIR", state_home->path().toUtf8());
        broker = std::make_unique<test_broker>();
        QVERIFY2(broker->start(why), why.c_str());
        watcher = std::make_unique<test_client>(broker->port(),
                                                std::vector<std::string>{"relay-panel/#", "homeassistant/#"});
        QVERIFY(wait_until([&] { return watcher->ready(); }));
    }
    void cleanup()
    {
        watcher.reset();
        broker.reset();
        state_home.reset();
    }

    void discovery_a_command_and_its_state_then_offline_on_sigterm();
    void sigkill_leaves_each_boards_availability_offline();
    void a_board_whose_port_opens_later_joins_then();
    void a_flood_of_commands_leaves_the_board_answered();
    void a_board_taken_out_of_the_file_leaves_home_assistant_at_the_next_start();
    void bad_mqtt_settings_exit_2_before_any_port_data();
    void bad_mqtt_settings_exit_2_before_any_port();

private:
    std::unique_ptr<QTemporaryDir> state_home;
    std::unique_ptr<test_broker> broker;
    std::unique_ptr<test_client> watcher;
};

void relayd_mqtt_test::discovery_a_command_and_its_state_then_offline_on_sigterm()
{
    pty_board board(1);
    QTemporaryDir dir;
    relayd_process relayd({"--port", QString::fromStdString(board.slave_path()), "--socket", dir.filePath("b.sock"),
                           "--mqtt", QString::fromStdString(broker->url())});
    const auto id = id_of_pty(1);
    QVERIFY2(relayd.wait_for_log(line("^<6>board: on MQTT as " + QString::fromStdString(id) + ", client id relayd-.*-" +
                                      QString::fromStdString(id) + "$")),
             qPrintable(relayd.log()));
    QVERIFY2(wait_until([&] { return watcher->last(availability(id)) == "online"; }), qPrintable(relayd.log()));
    QVERIFY(relayd.wait_for_log(line("^<6>MQTT: board " + QString::fromStdString(id) + " connected to mqtt://127\\.0\\.0\\.1:")));

    // Home Assistant needs nothing typed: four switches, each with the
    // board's own availability, state and command topics.
    for (int relay = 1; relay <= 4; ++relay) {
        const auto topic = discovery_topics(id)[static_cast<std::size_t>(relay - 1)];
        QVERIFY2(wait_until([&] { return watcher->last(topic).has_value(); }), topic.c_str());
        const auto config = QJsonDocument::fromJson(QByteArray::fromStdString(*watcher->last(topic))).object();
        const auto base = QString::fromStdString("relay-panel/" + id);
        QCOMPARE(config["availability_topic"].toString(), base + "/availability");
        QCOMPARE(config["state_topic"].toString(), base + "/relay/" + QString::number(relay));
        QCOMPARE(config["command_topic"].toString(), base + "/relay/" + QString::number(relay) + "/set");
    }

    const auto state = "relay-panel/" + id + "/relay/2";
    QVERIFY(wait_until([&] { return watcher->last(state) == "OFF"; }));
    QVERIFY(!board.relays()[1]);
    QVERIFY(watcher->publish(state + "/set", "ON"));
    QVERIFY2(wait_until([&] { return board.relays()[1]; }), qPrintable(relayd.log()));
    QVERIFY(wait_until([&] { return watcher->last(state) == "ON"; }));
    const auto relays = board.relays();
    QVERIFY(!relays[0] && !relays[2] && !relays[3]);
    // Who switched it, once the board confirmed it.
    QVERIFY2(relayd.wait_for_log(line("^<6>board: command \"switch relay 2 on\" from MQTT topic " +
                                      QRegularExpression::escape(QString::fromStdString(state)) +
                                      "/set: confirmed, the board reports 1=off 2=on 3=off 4=off$")),
             qPrintable(relayd.log()));

    watcher->clear();
    relayd.terminate();
    QVERIFY(relayd.wait_for_exit());
    QCOMPARE(relayd.exit_code(), 0);
    QVERIFY(wait_until([&] { return watcher->last(availability(id)) == "offline"; }));
    // Said by relayd before a clean disconnect: the broker adds no last
    // will, which would be a second "offline".
    QVERIFY(!wait_until([&] { return watcher->messages_on(availability(id)).size() > 1; }, 500ms));
    QVERIFY2(relayd.log().contains("<6>stopping on SIGTERM\n<6>stopped\n"), qPrintable(relayd.log()));
    QVERIFY2(!relayd.log().contains("<4>MQTT"), qPrintable(relayd.log()));
    test_client late(broker->port(), {availability(id)});
    QVERIFY(wait_until([&] { return late.last(availability(id)) == "offline"; }));
    QVERIFY(late.messages_on(availability(id)).back().retained);
}

void relayd_mqtt_test::sigkill_leaves_each_boards_availability_offline()
{
    pty_board cabinet(3);
    pty_board bench(200);
    QTemporaryDir dir;
    const QString config = dir.filePath("relayd.conf");
    QVERIFY(write_file(config, QString("[mqtt]\nurl = %1\nclient_id = relayd-kill\n\n"
                                       "[board cabinet]\nport = %2\naddress = 3\nsocket = %3\n\n"
                                       "[board bench]\nport = %4\naddress = 200\nsocket = %5\n")
                                   .arg(QString::fromStdString(broker->url()),
                                        QString::fromStdString(cabinet.slave_path()), dir.filePath("cabinet.sock"),
                                        QString::fromStdString(bench.slave_path()), dir.filePath("bench.sock"))
                                   .toUtf8()));
    relayd_process relayd({"--config", config});
    QVERIFY2(relayd.wait_for_log(line("^<6>cabinet: on MQTT as cabinet, client id relayd-kill-cabinet$")),
             qPrintable(relayd.log()));
    for (const char* board : {"cabinet", "bench"})
        QVERIFY2(wait_until([&] { return watcher->last(availability(board)) == "online"; }), qPrintable(relayd.log()));

    relayd.kill();
    QVERIFY(relayd.wait_for_exit());
    // A client that reads only a board's own topic learns that it is gone,
    // from the last will of that board's connection.
    for (const char* board : {"cabinet", "bench"}) {
        QVERIFY2(wait_until([&] { return watcher->last(availability(board)) == "offline"; }), board);
        test_client late(broker->port(), {availability(board)});
        QVERIFY(wait_until([&] { return late.last(availability(board)) == "offline"; }));
        QVERIFY(late.messages_on(availability(board)).back().retained);
    }
}

void relayd_mqtt_test::a_board_whose_port_opens_later_joins_then()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyRELAY");
    const QString config = dir.filePath("relayd.conf");
    QVERIFY(write_file(config, QString("[mqtt]\nurl = %1\n\n[board late]\nport = %2\nsocket = %3\n")
                                   .arg(QString::fromStdString(broker->url()), link, dir.filePath("late.sock"))
                                   .toUtf8()));
    relayd_process relayd({"--config", config});
    QVERIFY2(relayd.wait_for_log(line("^<3>late: cannot open port")), qPrintable(relayd.log()));
    // Not on the broker while it has no port.
    QVERIFY(!wait_until([&] { return watcher->last(availability("late")).has_value(); }, 1200ms));
    QVERIFY(!relayd.log().contains("on MQTT as"));

    pty_board board(1);
    board.set_link_path(link.toStdString());
    QVERIFY2(relayd.wait_for_log(line("^<6>late: on MQTT as late, client id relayd-.*-late$"), 3000ms),
             qPrintable(relayd.log()));
    QVERIFY2(wait_until([&] { return watcher->last(availability("late")) == "online"; }), qPrintable(relayd.log()));
    QVERIFY(watcher->publish("relay-panel/late/relay/4/set", "ON"));
    QVERIFY(wait_until([&] { return board.relays()[3]; }));
    QCOMPARE(relayd.count_log(line("on MQTT as")), 1);
}

// What an administrator did: ten thousand ON and OFF lines to one relay
// through mosquitto_pub -l. Every line is either sent to the board or
// refused as the queue is full, and the board is answered throughout: it
// never falls silent, its availability never leaves "online", and a status
// query through the control socket afterwards succeeds.
void relayd_mqtt_test::a_flood_of_commands_leaves_the_board_answered()
{
    constexpr int flood_lines = 10000;
    pty_board board(1);
    QTemporaryDir dir;
    const QString socket = dir.filePath("b.sock");
    relayd_process relayd({"--port", QString::fromStdString(board.slave_path()), "--socket", socket, "--mqtt",
                           QString::fromStdString(broker->url())});
    const auto id = id_of_pty(1);
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(relayd.log()));
    QVERIFY2(wait_until([&] { return watcher->last(availability(id)) == "online"; }), qPrintable(relayd.log()));

    QFile flood(dir.filePath("flood"));
    QVERIFY(flood.open(QIODevice::WriteOnly));
    for (int i = 0; i < flood_lines; ++i)
        flood.write(i % 2 == 0 ? "ON\n" : "OFF\n");
    flood.close();
    const auto on = encode_command(1, {1, {0, 2, 0, 0}});
    const auto off = encode_command(1, {1, {0, 1, 0, 0}});
    const auto commands_at_board = [&] {
        std::size_t n = 0;
        for (const auto& f : board.received_frames())
            n += f.bytes == on || f.bytes == off ? 1 : 0;
        return n;
    };
    const auto error_topic = "relay-panel/" + id + "/error";

    const auto availability_before = watcher->messages_on(availability(id)).size();
    QProcess publisher;
    publisher.setProcessChannelMode(QProcess::ForwardedChannels);
    publisher.setStandardInputFile(flood.fileName());
    publisher.start("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(broker->port()), "-t",
                                      QString::fromStdString("relay-panel/" + id + "/relay/2/set"), "-l"});
    QVERIFY(publisher.waitForStarted(5000));
    // relayd's log is read all the while: a full pipe would stall relayd
    // itself, as a stalled journal would.
    QVERIFY(wait_until([&] { return publisher.state() == QProcess::NotRunning; }, 30000ms));
    QCOMPARE(publisher.exitCode(), 0);
    const auto every_line_handled = [&] {
        relayd.log();
        return watcher->messages_on(error_topic).size() + commands_at_board() == std::size_t{flood_lines};
    };
    const auto handled = [&] {
        return QString("%1 commands sent to the board, %2 refused")
            .arg(commands_at_board())
            .arg(watcher->messages_on(error_topic).size());
    };
    QVERIFY2(wait_until(every_line_handled, 30000ms), qPrintable(handled()));
    qInfo("%s", qPrintable(handled()));

    const auto frames = board.frame_count();
    QVERIFY(board.wait_for_frame_count(frames + 10, 3000ms));
    // The log but for the refusals, which are most of it.
    const auto events = relayd.log().split('\n').filter(QRegularExpression("^(?!.* refused: )")).join('\n');
    QVERIFY2(!events.contains(" silent"), qPrintable(events));
    const auto said = watcher->messages_on(availability(id));
    for (auto it = said.begin() + static_cast<std::ptrdiff_t>(availability_before); it != said.end(); ++it)
        QCOMPARE(it->payload, std::string("online"));
    QCOMPARE(watcher->last(availability(id)), std::optional<std::string>("online"));
    const auto state = "relay-panel/" + id + "/relay/2";
    QVERIFY(wait_until([&] { return watcher->last(state) == (board.relays()[1] ? "ON" : "OFF"); }));

    const auto status = run_relayctl({"--socket", socket, "status"});
    QVERIFY(status.finished);
    QVERIFY2(status.exit_code == int(cli::exit_success), qPrintable(status.err));
    QCOMPARE(status.out, QString("1=off 2=%1 3=off 4=off\n").arg(board.relays()[1] ? "on" : "off"));
}

void relayd_mqtt_test::a_board_taken_out_of_the_file_leaves_home_assistant_at_the_next_start()
{
    pty_board cabinet(1);
    pty_board bench(2);
    QTemporaryDir dir;
    const QString config = dir.filePath("relayd.conf");
    const auto section = [&](const char* name, const pty_board& board, int address) {
        return QString("[board %1]\nport = %2\naddress = %3\nsocket = %4\n")
            .arg(name, QString::fromStdString(board.slave_path()), QString::number(address),
                 dir.filePath(QString(name) + ".sock"));
    };
    const auto mqtt = QString("[mqtt]\nurl = %1\n").arg(QString::fromStdString(broker->url()));
    QVERIFY(write_file(config, (mqtt + section("cabinet", cabinet, 1) + section("bench", bench, 2)).toUtf8()));
    {
        relayd_process relayd({"--config", config});
        for (const auto& topic : discovery_topics("bench"))
            QVERIFY2(wait_until([&] { return watcher->last(topic).has_value(); }), qPrintable(relayd.log()));
        QVERIFY(wait_until([&] { return watcher->last(discovery_topics("cabinet").back()).has_value(); }));
        relayd.terminate();
        QVERIFY(relayd.wait_for_exit());
    }
    // What relayd remembers, under the state folder.
    QVERIFY(QFile::exists(state_home->filePath("relayd/ha-discovery-" + QString(config).mid(1).replace('/', '-'))));

    QVERIFY(write_file(config, (mqtt + section("cabinet", cabinet, 1)).toUtf8()));
    watcher->clear();
    relayd_process relayd({"--config", config});
    QVERIFY2(relayd.wait_for_log(line("^<6>MQTT: removed 5 Home Assistant discovery messages of boards no "
                                      "longer configured$")),
             qPrintable(relayd.log()));
    // An empty retained message on each: Home Assistant drops the entity,
    // and the broker its copy.
    for (const auto& topic : discovery_topics("bench"))
        QVERIFY2(wait_until([&] { return watcher->last(topic) == std::string(); }), topic.c_str());
    // A later subscriber gets the cabinet's, then the availability it
    // subscribed to last, and nothing of the bench.
    std::vector<std::string> filters = discovery_topics("bench");
    filters.push_back("homeassistant/+/" + node_of("cabinet") + "/+/config");
    filters.push_back(availability("cabinet"));
    test_client late(broker->port(), filters);
    QVERIFY(wait_until([&] { return late.last(availability("cabinet")).has_value(); }));
    for (const auto& topic : discovery_topics("bench"))
        QVERIFY2(!late.last(topic).has_value(), topic.c_str());
    for (const auto& topic : discovery_topics("cabinet"))
        QVERIFY2(late.last(topic).has_value(), topic.c_str());
    // Said once: the next start owes nothing.
    relayd.terminate();
    QVERIFY(relayd.wait_for_exit());
    relayd_process again({"--config", config});
    QVERIFY(again.wait_for_log(line("^<6>MQTT: board cabinet connected to ")));
    again.terminate();
    QVERIFY(again.wait_for_exit());
    QCOMPARE(again.count_log(line("removed")), 0);
}

void relayd_mqtt_test::bad_mqtt_settings_exit_2_before_any_port_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("mqtt_section");  // with MQTT_URL and DIR put in
    QTest::addColumn<QString>("message");          // what stderr starts with, DIR put in

    QTest::newRow("URL not mqtt") << QStringList{"--mqtt", "http://127.0.0.1"} << QByteArray()
                                  << "relayd: MQTT: the broker URL \"http://127.0.0.1\" must start with mqtt:// or "
                                     "mqtts://\n";
    QTest::newRow("URL port") << QStringList{"--mqtt", "mqtt://127.0.0.1:70000"} << QByteArray()
                              << "relayd: MQTT: the broker port \"70000\" is not a port number (1 to 65535)\n";
    QTest::newRow("password file readable by others")
        << QStringList{} << QByteArray("url = MQTT_URL\nuser = relayd\npassword_file = DIR/open.password\n")
        << "relayd: MQTT: the password file DIR/open.password has mode 0644: it is open to other users, so it is "
           "refused. Run chmod 600 DIR/open.password (in [mqtt] of DIR/relayd.conf)\n";
    QTest::newRow("missing CA file")
        << QStringList{} << QByteArray("url = mqtts://127.0.0.1\nca_file = DIR/missing-ca.pem\n")
        << "relayd: MQTT: cannot use the CA file DIR/missing-ca.pem";
    QTest::newRow("keys without a URL") << QStringList{} << QByteArray("user = relayd\n")
                                        << "relayd: DIR/relayd.conf: the [mqtt] section has no url";
    QTest::newRow("unknown key") << QStringList{} << QByteArray("url = MQTT_URL\nhost = 127.0.0.1\n")
                                 << "relayd: MQTT: unknown key \"host\" in [mqtt]";
    // The command line wins over the file, for better and for worse.
    QTest::newRow("--mqtt over url") << QStringList{"--mqtt", "mqtt://"} << QByteArray("url = MQTT_URL\n")
                                     << "relayd: MQTT: the broker URL \"mqtt://\" names no host";
}

void relayd_mqtt_test::bad_mqtt_settings_exit_2_before_any_port()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, mqtt_section);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(write_file(dir.filePath("open.password"), "secret\n",
                       QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    pty_board board(1);
    const auto port = QString::fromStdString(board.slave_path());
    if (mqtt_section.isEmpty()) {
        args << "--port" << port << "--socket" << dir.filePath("b.sock");
    } else {
        mqtt_section.replace("MQTT_URL", broker->url().c_str()).replace("DIR", dir.path().toUtf8());
        QVERIFY(write_file(dir.filePath("relayd.conf"),
                           "[mqtt]\n" + mqtt_section + "\n[board a]\nport = " + port.toUtf8() + "\nsocket = " +
                               dir.filePath("a.sock").toUtf8() + "\n"));
        args << "--config" << dir.filePath("relayd.conf");
    }
    const auto run = run_relayd(args);
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, 2);
    message.replace("DIR", dir.path());
    QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
    QCOMPARE(board.frame_count(), std::size_t{0});
    QVERIFY(!QFile::exists(dir.filePath("a.sock")) && !QFile::exists(dir.filePath("b.sock")));
}

}  // namespace relay::relayd::testing

QTEST_GUILESS_MAIN(relay::relayd::testing::relayd_mqtt_test)
#include "relayd_mqtt_test.moc"
