// The configuration file: what a good file yields, and that every mistake
// is refused with the file, the line and the key named.

#include "relayd/config_file.h"

#include <gtest/gtest.h>

#include <string>

namespace relay::relayd {
namespace {

TEST(config_file, boards_and_mqtt_keys_come_through)
{
    const std::string text =
        "# two boards\n"
        "[mqtt]            # for the MQTT bridge\n"
        "url = mqtt://localhost:1883\n"
        "topic prefix = relays/#\n"
        "\n"
        "[board cabinet]\n"
        "port = /dev/ttyUSB0\n"
        "address = 1\n"
        "socket = /run/relayd/custom.sock   ; where scripts find it\n"
        "board_id = Pump_house-2\n"
        "relay2_class = outlet\n"
        "relay4_class = outlet\n"
        "relay3_class = switch\n"
        "[board bench-2]\n"
        "port = 2\n";
    const auto r = parse_config(text, "relayd.conf");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.config.boards.size(), 2u);
    EXPECT_EQ(r.config.boards[0].name, "cabinet");
    EXPECT_EQ(r.config.boards[0].port, "/dev/ttyUSB0");
    EXPECT_EQ(r.config.boards[0].address, 1);
    EXPECT_EQ(r.config.boards[0].socket, "/run/relayd/custom.sock");
    EXPECT_EQ(r.config.boards[1].name, "bench-2");
    EXPECT_EQ(r.config.boards[1].port, "2");
    EXPECT_EQ(r.config.boards[1].address, 1) << "the address defaults to 1";
    EXPECT_EQ(r.config.boards[1].socket, "");
    EXPECT_EQ(r.config.boards[0].board_id, "Pump_house-2");
    EXPECT_EQ(r.config.boards[1].board_id, "") << "the host and the name make the ids";
    EXPECT_EQ(r.config.boards[0].outlets, (std::array<bool, relay_count>{false, true, false, true}));
    EXPECT_EQ(r.config.boards[1].outlets, (std::array<bool, relay_count>{})) << "switches unless told";
    const std::map<std::string, std::string> mqtt{{"url", "mqtt://localhost:1883"}, {"topic prefix", "relays/#"}};
    EXPECT_EQ(r.config.mqtt, mqtt);
}

struct bad_file {
    const char* name;
    const char* text;
    const char* message;  // the whole message, file and line included
};

class config_file_refuses : public ::testing::TestWithParam<bad_file> {};

TEST_P(config_file_refuses, naming_file_line_and_key)
{
    const auto r = parse_config(GetParam().text, "/etc/relayd.conf");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, GetParam().message);
}

const bad_file bad_files[] = {
    {"misspelt_key", "[board a]\nport = 1\nadress = 3\n",
     "/etc/relayd.conf:3: unknown key 'adress' in [board a]: the keys are port, address, socket, board_id, "
     "relay1_class to relay4_class"},
    {"relay_5_class", "[board a]\nport = 1\nrelay5_class = outlet\n",
     "/etc/relayd.conf:3: unknown key 'relay5_class' in [board a]: the keys are port, address, socket, board_id, "
     "relay1_class to relay4_class"},
    {"class_not_known", "[board a]\nport = 1\nrelay1_class = light\n",
     "/etc/relayd.conf:3: key 'relay1_class' of board 'a' must be switch or outlet, not 'light'"},
    {"class_upper_case", "[board a]\nport = 1\nrelay1_class = Outlet\n",
     "/etc/relayd.conf:3: key 'relay1_class' of board 'a' must be switch or outlet, not 'Outlet'"},
    {"board_id_with_dot", "[board a]\nport = 1\nboard_id = pump.house\n",
     "/etc/relayd.conf:3: key 'board_id' of board 'a' may hold only letters, digits, '-' and '_', not 'pump.house'"},
    {"board_id_with_space", "[board a]\nport = 1\nboard_id = pump house\n",
     "/etc/relayd.conf:3: key 'board_id' of board 'a' may hold only letters, digits, '-' and '_', not 'pump house'"},
    {"board_id_too_long",
     "[board a]\nport = 1\nboard_id = xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n",
     "/etc/relayd.conf:3: key 'board_id' of board 'a' is longer than 64 characters"},
    {"board_id_shared", "[board a]\nport = 1\nboard_id = pump\n[board b]\nport = 2\nboard_id = pump\n",
     "/etc/relayd.conf:4: key 'board_id' of board 'b': 'pump' is already board 'a's"},
    {"address_too_big", "[board a]\nport = 1\naddress = 256\n",
     "/etc/relayd.conf:3: key 'address' of board 'a' must be a whole number from 0 to 255, not '256'"},
    {"address_not_a_number", "[board a]\nport = 1\naddress = 0x10\n",
     "/etc/relayd.conf:3: key 'address' of board 'a' must be a whole number from 0 to 255, not '0x10'"},
    {"no_port", "\n[board a]\naddress = 2\n", "/etc/relayd.conf:2: board 'a' has no key 'port'"},
    {"empty_value", "[board a]\nport =\n", "/etc/relayd.conf:2: key 'port' of board 'a' has no value"},
    {"relative_socket", "[board a]\nport = 1\nsocket = a.sock\n",
     "/etc/relayd.conf:3: key 'socket' of board 'a' needs an absolute path, not 'a.sock'"},
    {"key_twice", "[board a]\nport = 1\nport = 2\n", "/etc/relayd.conf:3: key 'port' is given twice in this section"},
    {"board_twice", "[board a]\nport = 1\n[board a]\nport = 2\n", "/etc/relayd.conf:3: board 'a' is named twice"},
    {"port_shared", "[board a]\nport = ttyUSB0\n[board b]\nport = ttyUSB0\n",
     "/etc/relayd.conf:3: key 'port' of board 'b': port 'ttyUSB0' is already board 'a's"},
    {"socket_shared", "[board a]\nport = 1\nsocket = /run/x.sock\n[board b]\nport = 2\nsocket = /run/x.sock\n",
     "/etc/relayd.conf:4: key 'socket' of board 'b': socket '/run/x.sock' is already board 'a's"},
    {"unknown_section", "[boards]\nport = 1\n",
     "/etc/relayd.conf:1: unknown section [boards]: sections are [mqtt] and [board NAME]"},
    {"unnamed_board", "[board]\nport = 1\n",
     "/etc/relayd.conf:1: unknown section [board]: sections are [mqtt] and [board NAME]"},
    {"name_with_slash", "[board a/b]\nport = 1\n",
     "/etc/relayd.conf:1: board name 'a/b' may hold only letters, digits, '-', '_' and '.'"},
    {"unclosed_header", "[board a\nport = 1\n", "/etc/relayd.conf:1: a section header must end with ']': '[board a'"},
    {"key_outside_section", "port = 1\n", "/etc/relayd.conf:1: key 'port' comes before any section"},
    {"no_equals", "[board a]\nport 1\n", "/etc/relayd.conf:2: expected 'key = value', not 'port 1'"},
    {"no_board", "[mqtt]\nurl = x\n", "/etc/relayd.conf: no [board NAME] section: name at least one board"},
    {"empty_file", "", "/etc/relayd.conf: no [board NAME] section: name at least one board"},
};

INSTANTIATE_TEST_SUITE_P(rows, config_file_refuses, ::testing::ValuesIn(bad_files),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(config_file, a_missing_file_says_why)
{
    const auto r = read_config_file("/nonexistent/relayd.conf");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "/nonexistent/relayd.conf: cannot be read: No such file or directory");
}

}  // namespace
}  // namespace relay::relayd
