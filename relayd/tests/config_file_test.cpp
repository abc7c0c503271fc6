// The configuration file: what a good file yields, and that every mistake
// is refused with the file, the line and the key named.

#include "relayd/config_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace relay::relayd {
namespace {

using namespace std::string_literals;

// Port 1 and port 2 as the system would number them.
class listed_ports : public port_catalog {
public:
    std::vector<port_entry> ports() const override { return {{"/dev/ttyUSB0", {}}, {"/dev/ttyS0", {}}}; }
};

const listed_ports catalog;

TEST(config_file, boards_and_mqtt_keys_come_through)
{
    const std::string text =
        "# two boards\n"
        "[mqtt]            # for the MQTT bridge\n"
        "url = mqtt://localhost:1883\n"
        "topic prefix = relays/#\n"
        "\n"
        "[http]\n"
        "listen = 0.0.0.0:8080\n"
        "password_file = /etc/relayd/web.password\n"
        "[board cabinet]\n"
        "port = /dev/ttyUSB0\n"
        "address = 1\n"
        "socket = /run/relayd/custom.sock   ; where scripts find it\n"
        "board_id = Pump_house-2\n"
        "relay2_class = outlet\n"
        "relay4_class = outlet\n"
        "relay3_class = switch\n"
        "relay2 = pump\n"
        "relay4 = fan \xc3\xa0 air   # a name may hold blanks\n"
        "interlock = 1 2, 3 4\n"
        "restore = last\n"
        "pulse2 = 1.5s\n"
        "pulse1 = 24h\n"
        "[board bench-2]\n"
        "port = 2\n";
    const auto r = parse_config(text, "relayd.conf", catalog);
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
    EXPECT_EQ(r.config.boards[0].names, (std::array<std::string, relay_count>{"", "pump", "", "fan \xc3\xa0 air"}));
    EXPECT_EQ(r.config.boards[0].rules.interlock_groups, (std::vector<std::vector<int>>{{1, 2}, {3, 4}}));
    EXPECT_EQ(r.config.boards[0].rules.restore, restore_policy::last);
    using std::chrono::milliseconds;
    EXPECT_EQ(r.config.boards[0].pulse_buttons,
              (std::array<std::optional<milliseconds>, relay_count>{std::chrono::hours(24), milliseconds(1500), {}, {}}));
    EXPECT_EQ(r.config.boards[1].rules, switch_rules{}) << "no interlock, and the board left as it comes back";
    EXPECT_EQ(r.config.boards[1].names, (std::array<std::string, relay_count>{}));
    const std::map<std::string, std::string> mqtt{{"url", "mqtt://localhost:1883"}, {"topic prefix", "relays/#"}};
    EXPECT_EQ(r.config.mqtt, mqtt);
    const std::map<std::string, std::string> http{{"listen", "0.0.0.0:8080"},
                                                  {"password_file", "/etc/relayd/web.password"}};
    EXPECT_EQ(r.config.http, http) << "the [http] keys are kept apart from the boards' and MQTT's";
}

struct bad_file {
    const char* name;
    std::string text;
    std::string message;  // the whole message, file and line included
};

// Failures name the row, not the struct's bytes.
void PrintTo(const bad_file& row, std::ostream* out) { *out << row.name; }

class config_file_refuses : public ::testing::TestWithParam<bad_file> {};

TEST_P(config_file_refuses, naming_file_line_and_key)
{
    const auto r = parse_config(GetParam().text, "/etc/relayd.conf", catalog);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, GetParam().message);
}

const bad_file bad_files[] = {
    {"misspelt_key", "[board a]\nport = 1\nadress = 3\n",
     "/etc/relayd.conf:3: unknown key 'adress' in [board a]: the keys are port, address, socket, board_id, "
     "relay1 to relay4, relay1_class to relay4_class, interlock, restore, pulse1 to pulse4"},
    {"relay_5_class", "[board a]\nport = 1\nrelay5_class = outlet\n",
     "/etc/relayd.conf:3: unknown key 'relay5_class' in [board a]: the keys are port, address, socket, board_id, "
     "relay1 to relay4, relay1_class to relay4_class, interlock, restore, pulse1 to pulse4"},
    {"class_not_known", "[board a]\nport = 1\nrelay1_class = light\n",
     "/etc/relayd.conf:3: key 'relay1_class' of board 'a' must be switch or outlet, not 'light'"},
    {"class_upper_case", "[board a]\nport = 1\nrelay1_class = Outlet\n",
     "/etc/relayd.conf:3: key 'relay1_class' of board 'a' must be switch or outlet, not 'Outlet'"},
    {"name_twice", "[board a]\nport = 1\nrelay1 = pump\nrelay3 = pump\n",
     "/etc/relayd.conf:4: key 'relay3' of board 'a': the name 'pump' is already relay 1's"},
    {"name_is_a_number", "[board a]\nport = 1\nrelay1 = 2\n",
     "/etc/relayd.conf:3: key 'relay1' of board 'a': the name '2' is a number: it would be read as a relay number"},
    {"name_not_printable", "[board a]\nport = 1\nrelay1 = caf\xe9\n",
     "/etc/relayd.conf:3: key 'relay1' of board 'a': the name 'caf\\xe9' holds bytes that are not printable text"},
    {"name_of_relay_5", "[board a]\nport = 1\nrelay5 = pump\n",
     "/etc/relayd.conf:3: unknown key 'relay5' in [board a]: the keys are port, address, socket, board_id, "
     "relay1 to relay4, relay1_class to relay4_class, interlock, restore, pulse1 to pulse4"},
    {"interlock_unknown_relay", "[board a]\nport = 1\ninterlock = 1 5\n",
     "/etc/relayd.conf:3: key 'interlock' of board 'a': '5' is not a relay: relays are 1 to 4"},
    {"interlock_by_name", "[board a]\nport = 1\nrelay1 = up\nrelay2 = down\ninterlock = up down\n",
     "/etc/relayd.conf:5: key 'interlock' of board 'a': 'up' is not a relay: relays are 1 to 4"},
    {"interlock_relay_in_two_groups", "[board a]\nport = 1\ninterlock = 1 2, 2 3\n",
     "/etc/relayd.conf:3: key 'interlock' of board 'a': relay 2 is named twice: a relay belongs to one group at "
     "most"},
    {"interlock_group_of_one", "[board a]\nport = 1\ninterlock = 1 2, 3\n",
     "/etc/relayd.conf:3: key 'interlock' of board 'a': a group of '3' interlocks nothing: a group needs two "
     "relays or more"},
    {"interlock_empty_group", "[board a]\nport = 1\ninterlock = 1 2,\n",
     "/etc/relayd.conf:3: key 'interlock' of board 'a': a group of '' interlocks nothing: a group needs two "
     "relays or more"},
    {"restore_unknown", "[board a]\nport = 1\nrestore = on\n",
     "/etc/relayd.conf:3: key 'restore' of board 'a' must be leave, last or off, not 'on'"},
    {"pulse_too_short", "[board a]\nport = 1\npulse2 = 50ms\n",
     "/etc/relayd.conf:3: key 'pulse2' of board 'a': a duration must be from 100 ms to 24 h, not 50ms"},
    {"pulse_too_long", "[board a]\nport = 1\npulse2 = 25h\n",
     "/etc/relayd.conf:3: key 'pulse2' of board 'a': a duration must be from 100 ms to 24 h, not 25h"},
    {"pulse_not_a_duration", "[board a]\nport = 1\npulse4 = soon\n",
     "/etc/relayd.conf:3: key 'pulse4' of board 'a': 'soon' is not a duration: write a number with ms, s, m, min "
     "or h, such as 500ms, 1.5s or 10min"},
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
     "/etc/relayd.conf:4: key 'port' of board 'b': 'ttyUSB0' is the same device as board 'a''s port 'ttyUSB0' "
     "(line 2)"},
    {"port_spelled_two_ways", "[board a]\nport = /dev/ttyUSB0\n\n[board b]\naddress = 2\nport = ttyUSB0\n",
     "/etc/relayd.conf:6: key 'port' of board 'b': 'ttyUSB0' is the same device as board 'a''s port '/dev/ttyUSB0' "
     "(line 2)"},
    {"port_through_dot_dot", "[board a]\nport = ttyUSB0\n[board b]\nport = /dev/../dev/./ttyUSB0\n",
     "/etc/relayd.conf:4: key 'port' of board 'b': '/dev/../dev/./ttyUSB0' is the same device as board 'a''s port "
     "'ttyUSB0' (line 2)"},
    {"port_number_and_its_device", "[board a]\nport = 1\n[board b]\nport = /dev/ttyUSB0\n",
     "/etc/relayd.conf:4: key 'port' of board 'b': '/dev/ttyUSB0' is the same device as board 'a''s port '1' "
     "(line 2)"},
    {"unlisted_port_number_twice", "[board a]\nport = 3\n[board b]\nport = 3.0\n",
     "/etc/relayd.conf:4: key 'port' of board 'b': '3.0' is the same device as board 'a''s port '3' (line 2)"},
    {"socket_shared", "[board a]\nport = 1\nsocket = /run/x.sock\n[board b]\nport = 2\nsocket = /run/x.sock\n",
     "/etc/relayd.conf:6: key 'socket' of board 'b': '/run/x.sock' is the same path as board 'a''s socket "
     "'/run/x.sock' (line 3)"},
    {"socket_spelled_two_ways",
     "[board a]\nport = 1\nsocket = /run/x.sock\n[board b]\nport = 2\nsocket = /run//x.sock\n",
     "/etc/relayd.conf:6: key 'socket' of board 'b': '/run//x.sock' is the same path as board 'a''s socket "
     "'/run/x.sock' (line 3)"},
    {"unknown_section", "[boards]\nport = 1\n",
     "/etc/relayd.conf:1: unknown section [boards]: sections are [mqtt], [http] and [board NAME]"},
    {"unnamed_board", "[board]\nport = 1\n",
     "/etc/relayd.conf:1: unknown section [board]: sections are [mqtt], [http] and [board NAME]"},
    {"name_with_slash", "[board a/b]\nport = 1\n",
     "/etc/relayd.conf:1: board name 'a/b' may hold only letters, digits, '-', '_' and '.'"},
    {"unclosed_header", "[board a\nport = 1\n", "/etc/relayd.conf:1: a section header must end with ']': '[board a'"},
    {"key_outside_section", "port = 1\n", "/etc/relayd.conf:1: key 'port' comes before any section"},
    {"no_equals", "[board a]\nport 1\n", "/etc/relayd.conf:2: expected 'key = value', not 'port 1'"},
    {"no_board", "[mqtt]\nurl = x\n", "/etc/relayd.conf: no [board NAME] section: name at least one board"},
    {"empty_file", "", "/etc/relayd.conf: no [board NAME] section: name at least one board"},
    // Control bytes: refused wherever they are, before anything else is read
    // into them, and shown escaped.
    {"nul_after_the_port", "[board a]\nport = /dev/pts/90\0\n"s,
     "/etc/relayd.conf:2: control byte \\x00 in column 19: the file must be plain text"},
    {"title_escape_in_a_key", "[board a]\nport = 1\n\x1b]0;pwned\x07 = 1\n",
     "/etc/relayd.conf:3: control byte \\x1b in column 1: the file must be plain text"},
    {"bell_in_a_comment", "[board a]   # ding\x07\nport = 1\n",
     "/etc/relayd.conf:1: control byte \\x07 in column 19: the file must be plain text"},
    {"return_inside_a_line", "[board a]\nport = 1\rport = 2\n",
     "/etc/relayd.conf:2: control byte \\x0d in column 9: the file must be plain text"},
    {"delete_in_mqtt", "[mqtt]\nurl = mqtt://h\x7f\n",
     "/etc/relayd.conf:2: control byte \\x7f in column 15: the file must be plain text"},
    // What a message quotes is shown so that a terminal cannot act on it.
    {"latin1_key", "[board a]\nport = 1\nadr\xe9sse = 3\n",
     "/etc/relayd.conf:3: unknown key 'adr\\xe9sse' in [board a]: the keys are port, address, socket, board_id, "
     "relay1 to relay4, relay1_class to relay4_class, interlock, restore, pulse1 to pulse4"},
    {"c1_control_in_a_value", "[board a]\nport = 1\naddress = \xc2\x9bz\n",
     "/etc/relayd.conf:3: key 'address' of board 'a' must be a whole number from 0 to 255, not '\\xc2\\x9bz'"},
    {"long_line_is_cut", "[board a]\n" + std::string(10000, 'x') + "\n",
     "/etc/relayd.conf:2: expected 'key = value', not '" + std::string(256, 'x') + "... (10000 bytes)'"},
};

INSTANTIATE_TEST_SUITE_P(rows, config_file_refuses, ::testing::ValuesIn(bad_files),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(config_file, lines_ending_in_a_return_are_read_as_lines)
{
    const auto r = parse_config("[board a]\r\nport = 1\r\naddress = 7\r\n", "relayd.conf", catalog);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.config.boards[0].port, "1");
    EXPECT_EQ(r.config.boards[0].address, 7);
}

// A folder of its own under /tmp, removed with what the test put in it.
class scratch_folder {
public:
    scratch_folder()
    {
        char name[] = "/tmp/relayd-config-test-XXXXXX";
        if (::mkdtemp(name))
            path = name;
    }
    ~scratch_folder()
    {
        for (const auto& file : files)
            ::unlink(file.c_str());
        if (!path.empty())
            ::rmdir(path.c_str());
    }
    std::string file(const std::string& name)
    {
        files.push_back(path + "/" + name);
        return files.back();
    }
    std::string path;

private:
    std::vector<std::string> files;
};

std::string two_boards(const std::string& port_a, const std::string& port_b)
{
    return "[board a]\nport = " + port_a + "\n[board b]\nport = " + port_b + "\n";
}

TEST(config_file, a_symlink_to_a_boards_device_is_that_boards_port)
{
    scratch_folder folder;
    ASSERT_FALSE(folder.path.empty());
    const auto link = folder.file("usb-FTDI_board-if00-port0");
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);

    const auto r = parse_config(two_boards("/dev/null", link), "relayd.conf", catalog);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "relayd.conf:4: key 'port' of board 'b': '" + link +
                           "' is the same device as board 'a''s port '/dev/null' (line 2)");
    // Two devices are two ports, even of one driver.
    EXPECT_TRUE(parse_config(two_boards("/dev/null", "/dev/zero"), "relayd.conf", catalog).ok);
}

TEST(config_file, a_second_node_of_a_boards_device_is_that_boards_port)
{
    scratch_folder folder;
    ASSERT_FALSE(folder.path.empty());
    struct stat null_device {};
    ASSERT_EQ(::stat("/dev/null", &null_device), 0);
    const auto node = folder.file("null-again");
    if (::mknod(node.c_str(), S_IFCHR | 0600, null_device.st_rdev) != 0)
        GTEST_SKIP() << "making a device node needs root: " << std::strerror(errno);

    const auto r = parse_config(two_boards("/dev/null", node), "relayd.conf", catalog);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "relayd.conf:4: key 'port' of board 'b': '" + node +
                           "' is the same device as board 'a''s port '/dev/null' (line 2)");
}

TEST(config_file, a_missing_file_says_why)
{
    const auto r = read_config_file("/nonexistent/relayd.conf", catalog);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "/nonexistent/relayd.conf: cannot be read: No such file or directory");
}

}  // namespace
}  // namespace relay::relayd
