// One board on a real broker: discovery, commands from a client switching
// the simulated board, states read from the board's answers, refused
// payloads switching nothing, and availability following the board.

#include "board_fixture.h"
#include "mqtt/board_id.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QtTest>

#include <algorithm>

namespace relay::mqtt::testing {

namespace {

std::string relay_word(bool on) { return on ? payload_on : payload_off; }

// Waits until the board has taken this many more frames: a condition, so
// that "nothing was switched" is checked after the board had every chance.
bool ticks_pass(const pty_board& board, std::size_t frames)
{
    const auto target = board.frame_count() + frames;
    return wait_until([&] { return board.frame_count() >= target; });
}

}  // namespace

class board_topics_test : public QObject {
    Q_OBJECT

    board_rig rig;

private slots:
    void init()
    {
        const auto failed = rig.start();
        QVERIFY2(failed.empty(), failed.c_str());
    }

    void cleanup()
    {
        rig.stop();
        // A test that named relays or gave them pulses leaves none to the next.
        rig.options = board_options{};
    }

    // One row per entity: the keys Home Assistant's MQTT switch and binary
    // sensor read, what each must hold, and nothing else.
    void discovery_payloads_as_home_assistant_reads_them_data()
    {
        QTest::addColumn<QString>("component");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QJsonObject>("entity");  // every key but the shared ones
        const QString base = "relay-panel/bench";
        for (int relay = 1; relay <= relay_count; ++relay) {
            const auto n = QString::number(relay);
            QTest::newRow(qPrintable("relay " + n))
                << "switch"
                << "relay" + n
                << QJsonObject{{"name", "Relay " + n},
                               {"device_class", "switch"},
                               {"command_topic", base + "/relay/" + n + "/set"},
                               {"state_topic", base + "/relay/" + n},
                               {"payload_on", "ON"},
                               {"payload_off", "OFF"},
                               {"state_on", "ON"},
                               {"state_off", "OFF"},
                               {"retain", false},
                               // The board's own topic, which its connection's last will sets.
                               {"availability_topic", base + "/availability"},
                               {"payload_available", "online"},
                               {"payload_not_available", "offline"}};
        }
        // Reads the availability topic itself, with no availability of its
        // own: it says "disconnected" when the board is, not "unavailable".
        QTest::newRow("link") << "binary_sensor"
                              << "link"
                              << QJsonObject{{"name", "Link"},
                                             {"device_class", "connectivity"},
                                             {"entity_category", "diagnostic"},
                                             {"state_topic", base + "/availability"},
                                             {"payload_on", "online"},
                                             {"payload_off", "offline"}};
    }

    void discovery_payloads_as_home_assistant_reads_them()
    {
        QFETCH(QString, component);
        QFETCH(QString, object);
        QFETCH(QJsonObject, entity);
        // The host is in every id, so that a board of the same name on
        // another host is another device.
        const auto node = QString::fromStdString(safe_id(QSysInfo::machineHostName().toStdString())) + "_bench";
        const auto topic = ("homeassistant/" + component + "/" + node + "/" + object + "/config").toStdString();
        QVERIFY2(wait_until([&] { return rig.watcher->last(topic).has_value(); }), topic.c_str());
        const auto message = rig.watcher->messages_on(topic).back();
        QJsonParseError error{};
        const auto config = QJsonDocument::fromJson(QByteArray::fromStdString(message.payload), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);

        auto expected = entity;
        const auto id = node + "_" + object;
        expected["unique_id"] = id;
        expected["object_id"] = id;
        expected["default_entity_id"] = component + "." + id;
        expected["device"] = QJsonObject{{"identifiers", QJsonArray{"relayd_" + node}},
                                         {"name", "Relay board bench"},
                                         {"manufacturer", "Generic"},
                                         {"model", "Four-channel serial relay board"},
                                         {"sw_version", RELAY_PANEL_VERSION}};
        expected["origin"] = QJsonObject{
            {"name", "relayd"}, {"sw_version", RELAY_PANEL_VERSION}, {"support_url", RELAY_PANEL_SUPPORT_URL}};
        for (const auto& key : expected.keys())
            QVERIFY2(
                config[key] == expected[key],
                qPrintable(key + ": " + QJsonDocument(QJsonObject{{key, config[key]}}).toJson(QJsonDocument::Compact)));
        QCOMPARE(config.keys(), expected.keys());  // nothing unchecked
        // What Home Assistant refuses a discovery message without.
        QVERIFY(config.contains(component == "switch" ? "command_topic" : "state_topic"));
        QVERIFY(!config["origin"].toObject()["name"].toString().isEmpty());
        QVERIFY(!config["device"].toObject()["identifiers"].toArray().isEmpty());

        // A client that comes later gets it from the broker, retained.
        test_client late(rig.broker->port(), {topic});
        QVERIFY(wait_until([&] { return late.last(topic).has_value(); }));
        QVERIFY(late.messages_on(topic).back().retained);
        QCOMPARE(late.last(topic), rig.watcher->last(topic));
    }

    void relays_named_outlets_in_the_file_are_outlets()
    {
        cleanup();
        rig.options.kinds = {relay_kind::generic, relay_kind::outlet, relay_kind::generic, relay_kind::outlet};
        const auto failed = rig.start();
        QVERIFY2(failed.empty(), failed.c_str());
        const auto node = safe_id(QSysInfo::machineHostName().toStdString()) + "_bench";
        for (int relay = 1; relay <= relay_count; ++relay) {
            const auto topic = "homeassistant/switch/" + node + "/relay" + std::to_string(relay) + "/config";
            QVERIFY(wait_until([&] { return rig.watcher->last(topic).has_value(); }));
            const auto config = QJsonDocument::fromJson(QByteArray::fromStdString(*rig.watcher->last(topic))).object();
            QCOMPARE(config["device_class"].toString(), QString(relay % 2 == 0 ? "outlet" : "switch"));
        }
    }

    // Named relays show by their names; a relay with a pulse also gets a
    // button that publishes the pulse's milliseconds, never retained.
    void relays_take_their_names_and_a_pulse_gets_a_button()
    {
        cleanup();
        rig.options.names = {"", "pump", "", "door"};
        rig.options.pulses = {std::nullopt, std::chrono::milliseconds(1500), std::nullopt,
                              std::chrono::milliseconds(500)};
        const auto failed = rig.start();
        QVERIFY2(failed.empty(), failed.c_str());
        const auto node = safe_id(QSysInfo::machineHostName().toStdString()) + "_bench";
        const auto config_on = [&](const std::string& topic) {
            return QJsonDocument::fromJson(QByteArray::fromStdString(rig.watcher->last(topic).value_or("")))
                .object();
        };
        // The link's message comes last: once it is in, every button that
        // exists is in too.
        const auto link = "homeassistant/binary_sensor/" + node + "/link/config";
        QVERIFY(wait_until([&] { return rig.watcher->last(link).has_value(); }));
        const QString names[] = {"Relay 1", "pump", "Relay 3", "door"};
        const QString presses[] = {"", "1500", "", "500"};
        const QString base = QString::fromStdString(rig.topics.root());
        for (int relay = 1; relay <= relay_count; ++relay) {
            const auto n = std::to_string(relay);
            const auto i = static_cast<std::size_t>(relay - 1);
            QCOMPARE(config_on("homeassistant/switch/" + node + "/relay" + n + "/config")["name"].toString(), names[i]);
            const auto button_topic = "homeassistant/button/" + node + "/relay" + n + "_pulse/config";
            if (presses[i].isEmpty()) {
                QVERIFY2(!rig.watcher->last(button_topic).has_value(), button_topic.c_str());
                continue;
            }
            const auto button = config_on(button_topic);
            QCOMPARE(button["name"].toString(), names[i] + " pulse");
            QCOMPARE(button["command_topic"].toString(), base + "/relay/" + QString::number(relay) + "/pulse");
            QCOMPARE(button["payload_press"].toString(), presses[i]);
            QCOMPARE(button["retain"], QJsonValue(false));
            QCOMPARE(button["availability_topic"].toString(), base + "/availability");
            QCOMPARE(button["unique_id"].toString(), QString::fromStdString(node + "_relay" + n + "_pulse"));
        }

        // Pressed as Home Assistant presses it: the relay on, then off.
        const auto door = config_on("homeassistant/button/" + node + "/relay4_pulse/config");
        QVERIFY(rig.watcher->publish(door["command_topic"].toString().toStdString(),
                                     door["payload_press"].toString().toStdString()));
        QVERIFY(wait_until([&] { return rig.set_commands().size() == 2; }));
        QVERIFY(rig.set_commands()[0] == single_relay(4, action_on));
        QVERIFY(rig.set_commands()[1] == single_relay(4, action_off));
        QVERIFY(wait_until([&] { return rig.log_has("command \"pulse relay 4 for 500 ms\" from MQTT topic"); }));
    }

    void discovery_comes_again_when_home_assistant_says_online()
    {
        const auto node = safe_id(QSysInfo::machineHostName().toStdString()) + "_bench";
        const auto topic = "homeassistant/switch/" + node + "/relay4/config";
        const auto link = "homeassistant/binary_sensor/" + node + "/link/config";
        // The first discovery ends with the link; all of it is in before
        // the count starts.
        QVERIFY(wait_until([&] { return rig.watcher->last(link).has_value(); }));
        rig.watcher->clear();
        QVERIFY(rig.watcher->publish("homeassistant/status", "online"));
        QVERIFY(wait_until([&] { return rig.watcher->messages_on(link).size() == 1; }));
        QCOMPARE(rig.watcher->messages_on(topic).size(), std::size_t{1});
    }

    void discovery_off_publishes_none()
    {
        cleanup();
        const auto failed = rig.start({{"client_id", client_id}, {"discovery_prefix", "off"}});
        QVERIFY2(failed.empty(), failed.c_str());
        // Discovery would follow the states; a refused command's error
        // follows both on the same connection, in order.
        QVERIFY(rig.watcher->publish(rig.topics.root() + "/relay/9/set", "ON"));
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
        for (const auto& m : rig.watcher->messages())
            QVERIFY2(m.topic.rfind("homeassistant/", 0) != 0, m.topic.c_str());
    }

    void a_command_switches_the_board_and_the_state_comes_from_its_answer_data()
    {
        QTest::addColumn<QString>("subtopic");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<bool>("all_on_first");
        QTest::addColumn<int>("code_actions");  // the four actions as decimal digits
        QTest::addColumn<QString>("relays");    // expected relays, 1 = on
        QTest::newRow("relay 1 ON") << "relay/1/set" << "ON" << false << 2000 << "1000";
        QTest::newRow("relay 3 on (lower case)") << "relay/3/set" << "on" << false << 20 << "0010";
        QTest::newRow("relay 4 OFF after all on") << "relay/4/set" << "OFF" << true << 1 << "1110";
        QTest::newRow("relay 2 TOGGLE from off") << "relay/2/set" << "TOGGLE" << false << 200 << "0100";
        QTest::newRow("relay 2 toggle from on") << "relay/2/set" << "toggle" << true << 100 << "1011";
        QTest::newRow("all ON") << "all/set" << "ON" << false << 2222 << "1111";
        QTest::newRow("all OFF after all on") << "all/set" << "OFF" << true << 1111 << "0000";
    }

    void a_command_switches_the_board_and_the_state_comes_from_its_answer()
    {
        QFETCH(QString, subtopic);
        QFETCH(QString, payload);
        QFETCH(bool, all_on_first);
        QFETCH(int, code_actions);
        QFETCH(QString, relays);
        if (all_on_first) {
            QVERIFY(rig.watcher->publish(rig.topics.all_set(), "ON"));
            QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.relay_state(4)) == "ON"; }));
            QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.relay_state(1)) == "ON"; }));
        }
        command_tuple expected{code_set_relays, {}};
        for (int i = relay_count - 1, rest = code_actions; i >= 0; --i, rest /= 10)
            expected.actions[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(rest % 10);
        const auto before = rig.set_commands().size();
        rig.watcher->clear();

        QVERIFY(rig.watcher->publish(rig.topics.root() + "/" + subtopic.toStdString(), payload.toStdString()));
        std::array<bool, relay_count> want{};
        for (int i = 0; i < relay_count; ++i)
            want[static_cast<std::size_t>(i)] = relays[i] == '1';
        QVERIFY(wait_until([&] { return rig.board().relays() == want; }));
        const auto commands = rig.set_commands();
        QCOMPARE(commands.size(), before + 1);
        QVERIFY(commands.back() == expected);

        // Each switched relay's state arrives after the board took the
        // frame: from its answer, not an echo of the command.
        const auto log = rig.board().received_frames();
        const auto sent = std::find_if(log.rbegin(), log.rend(), [&](const received_frame& f) {
            std::uint8_t a = 0;
            command_tuple c;
            return decode_command(f.bytes, a, c) && c == expected;
        });
        QVERIFY(sent != log.rend());
        for (int i = 0; i < relay_count; ++i) {
            if (expected.actions[static_cast<std::size_t>(i)] == action_leave)
                continue;
            const auto topic = rig.topics.relay_state(i + 1);
            QVERIFY(wait_until([&] { return rig.watcher->last(topic) == relay_word(want[static_cast<std::size_t>(i)]); }));
            const auto state = rig.watcher->messages_on(topic).back();
            QVERIFY(state.retained == false);  // live delivery to a subscriber
            QVERIFY(state.arrival > sent->arrival);
        }
        QVERIFY(!rig.watcher->last(rig.topics.error()).has_value());
        // Who switched what: one line, once the board confirmed it.
        const auto audit = "command \"" + describe_command(expected) + "\" from MQTT topic " + rig.topics.root() + "/" +
                           subtopic.toStdString() + ": confirmed, the board reports";
        QVERIFY2(wait_until([&] { return rig.log_has(audit); }), audit.c_str());
    }

    // A pulse or a cycle: two frames at the board, the last one its time
    // after the first; or, replaced by a set before its time, the end of it
    // told on the error topic.
    void a_pulse_or_a_cycle_switches_twice_data()
    {
        QTest::addColumn<QString>("subtopic");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<bool>("all_on_first");
        QTest::addColumn<QString>("then");     // "subtopic payload" once the first step shows; empty none
        QTest::addColumn<QString>("relays");   // at the end, 1 = on
        QTest::addColumn<int>("frames");       // set frames for all of it
        QTest::newRow("pulse") << "relay/2/pulse" << "300" << false << QString() << "0000" << 2;
        QTest::newRow("cycle") << "relay/3/cycle" << "300" << true << QString() << "1111" << 2;
        QTest::newRow("pulse replaced by a set") << "relay/1/pulse" << "20000" << false << "relay/1/set ON"
                                                 << "1000" << 2;
    }

    void a_pulse_or_a_cycle_switches_twice()
    {
        QFETCH(QString, subtopic);
        QFETCH(QString, payload);
        QFETCH(bool, all_on_first);
        QFETCH(QString, then);
        QFETCH(QString, relays);
        QFETCH(int, frames);
        if (all_on_first) {
            QVERIFY(rig.watcher->publish(rig.topics.all_set(), "ON"));
            QVERIFY(wait_until([&] { return rig.board().relays() == std::array<bool, relay_count>{true, true, true, true}; }));
        }
        const auto before = rig.set_commands().size();
        const int relay = subtopic[6].digitValue();
        const bool pulse = subtopic.endsWith("pulse");
        QVERIFY(rig.watcher->publish(rig.topics.root() + "/" + subtopic.toStdString(), payload.toStdString()));
        QVERIFY(wait_until([&] { return rig.set_commands().size() == before + 1; }));
        QVERIFY(rig.set_commands().back() == single_relay(relay, pulse ? action_on : action_off));
        if (!then.isEmpty()) {
            const auto words = then.split(' ');
            QVERIFY(rig.watcher->publish(rig.topics.root() + "/" + words[0].toStdString(), words[1].toStdString()));
        }
        std::array<bool, relay_count> want{};
        for (int i = 0; i < relay_count; ++i)
            want[static_cast<std::size_t>(i)] = relays[i] == '1';
        QVERIFY(wait_until([&] { return rig.set_commands().size() == before + static_cast<std::size_t>(frames); }));
        QVERIFY(wait_until([&] { return rig.board().relays() == want; }));
        const auto asked = "\"" + std::string(pulse ? "pulse" : "cycle") + " relay " + std::to_string(relay) +
                           " for " + payload.toStdString() + " ms\" from MQTT topic";
        if (then.isEmpty()) {
            QVERIFY(rig.set_commands().back() == single_relay(relay, pulse ? action_off : action_on));
            QVERIFY(wait_until([&] { return rig.log_has("command " + asked); }));
            QVERIFY(!rig.watcher->last(rig.topics.error()).has_value());
        } else {
            QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
            const auto error = *rig.watcher->last(rig.topics.error());
            QVERIFY2(error.find(subtopic.toStdString() + " \"" + payload.toStdString() + "\"") != std::string::npos &&
                         error.find("was not carried out") != std::string::npos,
                     error.c_str());
        }
    }

    void a_bad_payload_switches_nothing_and_says_why_data()
    {
        QTest::addColumn<QString>("subtopic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("retained");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("why");
        QTest::addColumn<bool>("interlock");  // relays 1 and 3, with 3 on first
        const QString words = "takes ON, OFF or TOGGLE";
        QTest::newRow("on with spaces") << "relay/1/set" << QByteArray("on ") << false << "\"on \"" << words << false;
        QTest::newRow("one") << "relay/1/set" << QByteArray("1") << false << "\"1\"" << words << false;
        QTest::newRow("binary") << "relay/2/set" << QByteArray("\x00\xff\x1bON", 5) << false
                                << "\"\\x00\\xFF\\x1BON\"" << words << false;
        QTest::newRow("10 KB") << "relay/3/set" << QByteArray(10240, 'N') << false << "(10240 bytes)" << words << false;
        QTest::newRow("TOGGLE on all") << "all/set" << QByteArray("TOGGLE") << false << "\"TOGGLE\""
                                       << "all/set takes ON or OFF" << false;
        QTest::newRow("relay 0") << "relay/0/set" << QByteArray("ON") << false << "\"ON\"" << "numbered 1 to 4" << false;
        QTest::newRow("relay 5") << "relay/5/set" << QByteArray("ON") << false << "\"ON\"" << "numbered 1 to 4" << false;
        QTest::newRow("retained ON") << "relay/1/set" << QByteArray("ON") << true << "\"ON\""
                                     << "retained command is ignored" << false;
        QTest::newRow("retained all ON") << "all/set" << QByteArray("ON") << true << "\"ON\""
                                         << "retained command is ignored" << false;
        QTest::newRow("pulse not milliseconds") << "relay/2/pulse" << QByteArray("1.5s") << false << "\"1.5s\""
                                                << "relay/2/pulse takes the milliseconds" << false;
        QTest::newRow("pulse too short") << "relay/2/pulse" << QByteArray("50") << false << "\"50\""
                                         << "relay/2/pulse takes the milliseconds" << false;
        QTest::newRow("cycle over a day") << "relay/2/cycle" << QByteArray("86400001") << false << "\"86400001\""
                                          << "relay/2/cycle takes the milliseconds" << false;
        QTest::newRow("retained pulse") << "relay/2/pulse" << QByteArray("500") << true << "\"500\""
                                        << "retained command is ignored" << false;
        QTest::newRow("all ON under an interlock") << "all/set" << QByteArray("ON") << false << "\"ON\""
                                                   << "interlocked" << true;
    }

    void a_bad_payload_switches_nothing_and_says_why()
    {
        QFETCH(QString, subtopic);
        QFETCH(QByteArray, payload);
        QFETCH(bool, retained);
        QFETCH(QString, shown);
        QFETCH(QString, why);
        QFETCH(bool, interlock);
        if (interlock) {
            rig.core().set_rules({{{1, 3}}, restore_policy::leave});
            QVERIFY(rig.watcher->publish(rig.topics.relay_set(3), "ON"));
            QVERIFY(wait_until([&] { return rig.board().relays()[2]; }));
        }
        const auto sets_before = rig.set_commands().size();
        const auto relays_before = rig.board().relays();
        const auto topic = rig.topics.root() + "/" + subtopic.toStdString();
        QVERIFY(rig.watcher->publish(topic, payload.toStdString(), retained));

        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
        const auto error = rig.watcher->messages_on(rig.topics.error()).back();
        QVERIFY(!error.retained);
        QVERIFY2(error.payload.find(topic) != std::string::npos, error.payload.c_str());
        QVERIFY2(error.payload.find(shown.toStdString()) != std::string::npos, error.payload.c_str());
        QVERIFY2(error.payload.find(why.toStdString()) != std::string::npos, error.payload.c_str());
        QVERIFY(error.payload.size() < 400);
        QVERIFY(rig.log_has(why.toStdString()));

        QVERIFY(ticks_pass(rig.board(), 3));
        QCOMPARE(rig.set_commands().size(), sets_before);
        QVERIFY(rig.board().relays() == relays_before);
        QCOMPARE(rig.core().queued_commands(), std::size_t{0});
    }

    // Relays of one group the board reports on together: the owner
    // switches the group off, and says so on the error topic.
    void an_interlock_broken_at_the_board_is_told_on_error()
    {
        QVERIFY(rig.watcher->publish(rig.topics.all_set(), "ON"));
        QVERIFY(wait_until([&] { return rig.board().relays() == std::array<bool, relay_count>{true, true, true, true}; }));
        rig.core().set_rules({{{1, 3}}, restore_policy::leave});
        QVERIFY(wait_until([&] { return rig.board().relays() == std::array<bool, relay_count>{false, true, false, true}; }));
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
        const auto error = *rig.watcher->last(rig.topics.error());
        QVERIFY2(error.find("relays 1 3 are interlocked but the board reports more than one of them on") !=
                     std::string::npos,
                 error.c_str());
        QCOMPARE(rig.watcher->messages_on(rig.topics.error()).size(), std::size_t{1});
    }

    // The refusal of a retained command says to clear it with an empty
    // retained message; doing so reaches relayd as an empty message, which
    // draws no second refusal.
    void a_retained_command_cleared_as_told_draws_no_second_error()
    {
        const auto topic = rig.topics.relay_set(3);
        QVERIFY(rig.watcher->publish(topic, "ON", true));
        QVERIFY(wait_until([&] { return rig.watcher->messages_on(rig.topics.error()).size() == 1; }));
        QVERIFY(rig.watcher->publish(topic, "", true));
        QVERIFY(wait_until([&] {
            const auto on_topic = rig.watcher->messages_on(topic);
            return !on_topic.empty() && on_topic.back().payload.empty();
        }));
        // A refusal of another kind marks the point where the clearing has
        // long been handled.
        QVERIFY(rig.watcher->publish(rig.topics.root() + "/relay/9/set", "ON"));
        QVERIFY(wait_until([&] { return rig.watcher->messages_on(rig.topics.error()).size() == 2; }));
        QVERIFY2(rig.watcher->last(rig.topics.error())->find("numbered 1 to 4") != std::string::npos,
                 rig.watcher->last(rig.topics.error())->c_str());
        QCOMPARE(rig.set_commands().size(), std::size_t{0});
        // Gone from the broker: a later subscriber gets the availability,
        // retained, and nothing on the set topic subscribed before it.
        test_client late(rig.broker->port(), {topic, rig.topics.availability()});
        QVERIFY(wait_until([&] { return late.last(rig.topics.availability()).has_value(); }));
        QVERIFY(!late.last(topic).has_value());
    }

    void toggle_of_an_unknown_relay_switches_nothing()
    {
        rig.board().set_silent(true);
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.availability()) == "offline"; }));
        QVERIFY(rig.watcher->publish(rig.topics.relay_set(2), "TOGGLE"));
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
        QVERIFY(rig.watcher->last(rig.topics.error())->find("state is unknown") != std::string::npos);
        QVERIFY(ticks_pass(rig.board(), 3));
        QCOMPARE(rig.set_commands().size(), std::size_t{0});
    }

    void a_full_queue_is_told()
    {
        // Without ticks no command leaves the queue during the burst.
        rig.live->session().timer().stop();
        const auto burst = client_queue_capacity + 16;
        for (std::size_t i = 0; i < burst; ++i)
            QVERIFY(rig.watcher->publish(rig.topics.relay_set(1 + static_cast<int>(i % 4)), i % 8 < 4 ? "ON" : "OFF"));
        // A refusal of another kind after the burst marks its end.
        QVERIFY(rig.watcher->publish(rig.topics.root() + "/relay/9/set", "ON"));
        QVERIFY(wait_until([&] {
            const auto last = rig.watcher->last(rig.topics.error());
            return last && last->find("numbered 1 to 4") != std::string::npos;
        }));
        auto errors = rig.watcher->messages_on(rig.topics.error());
        errors.pop_back();
        QCOMPARE(errors.size(), burst - client_queue_capacity);
        for (const auto& refused : errors)
            QVERIFY2(refused.payload.find("command queue is full") != std::string::npos, refused.payload.c_str());
    }

    void a_silent_board_is_offline_until_it_answers_again()
    {
        const auto& topic = rig.topics.availability();
        rig.board().set_silent(true);
        QVERIFY(wait_until([&] { return rig.watcher->last(topic) == "offline"; }));
        // The board's last states stay as they were: nothing is published for
        // a relay that is not known.
        const auto states = rig.watcher->messages_on(rig.topics.relay_state(1)).size();
        rig.board().set_silent(false);
        QVERIFY(wait_until([&] { return rig.watcher->last(topic) == "online"; }));
        QCOMPARE(rig.watcher->messages_on(rig.topics.relay_state(1)).size(), states);
        const auto availability = rig.watcher->messages_on(topic);
        QVERIFY(std::all_of(availability.begin(), availability.end(), [](const auto& m) {
            return m.payload == "online" || m.payload == "offline";
        }));
    }

    void a_lost_port_is_offline()
    {
        rig.board().close_line();
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.availability()) == "offline"; }));
        QVERIFY(rig.watcher->publish(rig.topics.relay_set(1), "ON"));
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.error()).has_value(); }));
        QVERIFY(rig.watcher->last(rig.topics.error())->find("serial port is not open") != std::string::npos);
    }

    void a_clean_stop_says_offline_retained()
    {
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.availability()) == "online"; }));
        rig.stop_bridge();
        QVERIFY(wait_until([&] { return rig.watcher->last(rig.topics.availability()) == "offline"; }));
        test_client late(rig.broker->port(), {rig.topics.availability()});
        QVERIFY(wait_until([&] { return late.last(rig.topics.availability()) == "offline"; }));
        QVERIFY(late.messages_on(rig.topics.availability()).back().retained);
    }
};

}  // namespace relay::mqtt::testing

QTEST_GUILESS_MAIN(relay::mqtt::testing::board_topics_test)
#include "board_topics_test.moc"
