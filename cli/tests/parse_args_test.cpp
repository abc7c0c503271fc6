#include "cli/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace relay::cli {
namespace {

using words = std::vector<std::string>;

// Test names and failures show the command line, not the struct's bytes.
std::string quoted(const words& args)
{
    std::string line;
    for (const auto& a : args)
        line += (line.empty() ? "'" : " '") + a + "'";
    return line.empty() ? "(nothing)" : line;
}

struct good_case {
    words args;
    std::string port;
    int address;
    bool json;
    int timeout_ms;
    command_kind command;
    int relay;
};

class parse_good : public ::testing::TestWithParam<good_case> {};
void PrintTo(const good_case& c, std::ostream* os) { *os << quoted(c.args); }

TEST_P(parse_good, reads_every_value)
{
    const auto& c = GetParam();
    const auto r = parse_args(c.args);
    ASSERT_EQ(r.what, parse_result::action::run) << r.error;
    EXPECT_EQ(r.opts.port, c.port);
    // Without --port relayctl first looks for the one owner there is.
    const bool named = std::any_of(c.args.begin(), c.args.end(),
                                   [](const std::string& a) { return a.rfind("--port", 0) == 0; });
    EXPECT_EQ(r.opts.port_given, named);
    EXPECT_EQ(int(r.opts.address), c.address);
    EXPECT_EQ(r.opts.json, c.json);
    EXPECT_EQ(r.opts.timeout_ms, c.timeout_ms);
    EXPECT_EQ(r.opts.command, c.command);
    EXPECT_EQ(r.opts.relay, c.relay);
}

INSTANTIATE_TEST_SUITE_P(
    table, parse_good,
    ::testing::Values(
        good_case{{"status"}, "1", 1, false, 1000, command_kind::status, 0},
        good_case{{"on", "1"}, "1", 1, false, 1000, command_kind::on, 1},
        good_case{{"off", "4"}, "1", 1, false, 1000, command_kind::off, 4},
        good_case{{"toggle", "3"}, "1", 1, false, 1000, command_kind::toggle, 3},
        good_case{{"all-on"}, "1", 1, false, 1000, command_kind::all_on, 0},
        good_case{{"all-off"}, "1", 1, false, 1000, command_kind::all_off, 0},
        good_case{{"--port", "3", "status"}, "3", 1, false, 1000, command_kind::status, 0},
        good_case{{"--port", "32767", "status"}, "32767", 1, false, 1000, command_kind::status, 0},
        good_case{{"--port", "/dev/pts/7", "on", "2"}, "/dev/pts/7", 1, false, 1000, command_kind::on, 2},
        good_case{{"--port=ttyUSB0", "status"}, "ttyUSB0", 1, false, 1000, command_kind::status, 0},
        good_case{{"--address", "0", "status"}, "1", 0, false, 1000, command_kind::status, 0},
        good_case{{"--address=255", "status"}, "1", 255, false, 1000, command_kind::status, 0},
        good_case{{"--address", "007", "status"}, "1", 7, false, 1000, command_kind::status, 0},
        good_case{{"--json", "status"}, "1", 1, true, 1000, command_kind::status, 0},
        good_case{{"--timeout", "1", "status"}, "1", 1, false, 1, command_kind::status, 0},
        good_case{{"--timeout=3600000", "status"}, "1", 1, false, 3600000, command_kind::status, 0},
        // Options after the command, and the last of a repeated option wins.
        good_case{{"on", "2", "--json", "--port", "2", "--port", "5"}, "5", 1, true, 1000, command_kind::on, 2},
        good_case{{"--address", "9", "toggle", "--address", "10", "1"}, "1", 10, false, 1000, command_kind::toggle, 1},
        // After "--" a word that looks like an option is a device name.
        good_case{{"--port", "--weird", "status"}, "--weird", 1, false, 1000, command_kind::status, 0},
        good_case{{"--", "status"}, "1", 1, false, 1000, command_kind::status, 0}));

// A relay by its name, and the duration of a pulse or a cycle.
struct relay_case {
    words args;
    command_kind command;
    int relay;
    std::string relay_name;
    long long ms;
};

class parse_relay : public ::testing::TestWithParam<relay_case> {};
void PrintTo(const relay_case& c, std::ostream* os) { *os << quoted(c.args); }

TEST_P(parse_relay, reads_the_relay_and_the_duration)
{
    const auto& c = GetParam();
    const auto r = parse_args(c.args);
    ASSERT_EQ(r.what, parse_result::action::run) << r.error;
    EXPECT_EQ(r.opts.command, c.command);
    EXPECT_EQ(r.opts.relay, c.relay);
    EXPECT_EQ(r.opts.relay_name, c.relay_name);
    EXPECT_EQ(r.opts.duration.count(), c.ms);
}

INSTANTIATE_TEST_SUITE_P(
    table, parse_relay,
    ::testing::Values(relay_case{{"pulse", "2", "500ms"}, command_kind::pulse, 2, "", 500},
                      relay_case{{"cycle", "4", "1.5s"}, command_kind::cycle, 4, "", 1500},
                      relay_case{{"pulse", "1", "10"}, command_kind::pulse, 1, "", 10000},
                      relay_case{{"cycle", "3", "10min", "--json"}, command_kind::cycle, 3, "", 600000},
                      relay_case{{"pulse", "pump", "2h"}, command_kind::pulse, 0, "pump", 7200000},
                      relay_case{{"on", "pump"}, command_kind::on, 0, "pump", 0},
                      relay_case{{"toggle", "fan \xc3\xa0 air"}, command_kind::toggle, 0, "fan \xc3\xa0 air", 0},
                      relay_case{{"off", "x"}, command_kind::off, 0, "x", 0}));

struct bad_case {
    words args;
    std::string error_part;  // what the message must name
};

class parse_bad : public ::testing::TestWithParam<bad_case> {};
void PrintTo(const bad_case& c, std::ostream* os) { *os << quoted(c.args); }

TEST_P(parse_bad, is_a_usage_error_naming_the_fault)
{
    const auto& c = GetParam();
    const auto r = parse_args(c.args);
    ASSERT_EQ(r.what, parse_result::action::usage_error);
    EXPECT_NE(r.error.find(c.error_part), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line: " << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    table, parse_bad,
    ::testing::Values(bad_case{{}, "no command"}, bad_case{{"--json"}, "no command"},
                      bad_case{{"stat"}, "unknown command 'stat'"}, bad_case{{"ON", "1"}, "unknown command"},
                      bad_case{{"on"}, "needs a relay"}, bad_case{{"toggle"}, "needs a relay"},
                      bad_case{{"on", "0"}, "not '0'"}, bad_case{{"on", "5"}, "not '5'"},
                      bad_case{{"on", "1.0"}, "not '1.0'"}, bad_case{{"on", "-2"}, "unknown option '-2'"},
                      bad_case{{"on", "+2"}, "not '+2'"}, bad_case{{"on", ""}, "not ''"},
                      bad_case{{"on", "1", "2"}, "unexpected argument '2'"},
                      bad_case{{"on", "caf\xe9"}, "not 'caf\\xe9'"},
                      // pulse and cycle: a relay and a duration, both required.
                      bad_case{{"pulse", "2"}, "'pulse' needs a relay and a duration, such as 'pulse 2 500ms'"},
                      bad_case{{"cycle"}, "'cycle' needs a relay and a duration"},
                      bad_case{{"pulse", "5", "1s"}, "not '5'"},
                      bad_case{{"pulse", "2", "50ms"}, "a duration must be from 100 ms to 24 h, not 50ms"},
                      bad_case{{"cycle", "2", "25h"}, "a duration must be from 100 ms to 24 h, not 25h"},
                      bad_case{{"pulse", "2", "0"}, "from 100 ms to 24 h"},
                      bad_case{{"pulse", "2", "1sec"}, "'1sec' is not a duration"},
                      bad_case{{"pulse", "2", "500", "ms"}, "unexpected argument 'ms'"},
                      bad_case{{"on", "2", "500ms"}, "unexpected argument '500ms'"},
                      bad_case{{"status", "1"}, "unexpected argument '1'"},
                      bad_case{{"all-on", "3"}, "unexpected argument '3'"},
                      bad_case{{"--address", "256", "status"}, "--address"},
                      bad_case{{"--address", "-1", "status"}, "not '-1'"},
                      bad_case{{"--address", "1.5", "status"}, "not '1.5'"},
                      bad_case{{"--address", "2.0", "status"}, "not '2.0'"},
                      bad_case{{"--address", "0x10", "status"}, "not '0x10'"},
                      bad_case{{"--address", " 1", "status"}, "not ' 1'"},
                      bad_case{{"--address", "", "status"}, "not ''"},
                      bad_case{{"--address", "99999999999999999999", "status"}, "--address"},
                      bad_case{{"--address=abc", "status"}, "not 'abc'"},
                      bad_case{{"status", "--address"}, "'--address' needs a value"},
                      bad_case{{"status", "--port"}, "'--port' needs a value"},
                      bad_case{{"--port", "", "status"}, "--port"},
                      bad_case{{"--port=", "status"}, "--port"},
                      bad_case{{"--port", "0", "status"}, "not '0'"},
                      bad_case{{"--port", "-1", "status"}, "not '-1'"},
                      bad_case{{"--port", "99999", "status"}, "not '99999'"},
                      bad_case{{"--port", "32768", "status"}, "not '32768'"},
                      bad_case{{"--port", "1.5", "status"}, "not '1.5'"},
                      bad_case{{"--port=1e3", "status"}, "not '1e3'"},
                      bad_case{{"--timeout", "0", "status"}, "--timeout"},
                      bad_case{{"--timeout", "-5", "status"}, "not '-5'"},
                      bad_case{{"--timeout", "3600001", "status"}, "--timeout"},
                      bad_case{{"--timeout", "1s", "status"}, "not '1s'"},
                      bad_case{{"--verbose", "status"}, "unknown option '--verbose'"},
                      bad_case{{"-p", "1", "status"}, "unknown option '-p'"},
                      bad_case{{"--json=yes", "status"}, "unknown option '--json'"},
                      bad_case{{"watch", "1"}, "unexpected argument '1'"},
                      bad_case{{"--socket", "", "status"}, "--socket"},
                      bad_case{{"status", "--socket"}, "'--socket' needs a value"},
                      bad_case{{"--count", "0", "watch"}, "--count"},
                      bad_case{{"--count", "x", "watch"}, "not 'x'"},
                      bad_case{{"--count", "2", "status"}, "'watch' only"},
                      // A terminal shows the bad word; it must not obey it.
                      bad_case{{"--address", "\x1b[2J", "status"}, "not '\\x1b[2J'"},
                      bad_case{{"\x1b]0;pwned\x07"}, "unknown command '\\x1b]0;pwned\\x07'"},
                      bad_case{{"on", "1\n2"}, "not '1\\x0a2'"},
                      bad_case{{"--timeout", "5\xff", "status"}, "not '5\\xff'"}));

struct owner_case {
    words args;
    command_kind command;
    std::string socket;
    int count;
};

class parse_owner : public ::testing::TestWithParam<owner_case> {};
void PrintTo(const owner_case& c, std::ostream* os) { *os << quoted(c.args); }

TEST_P(parse_owner, reads_the_socket_and_the_count)
{
    const auto& c = GetParam();
    const auto r = parse_args(c.args);
    ASSERT_EQ(r.what, parse_result::action::run) << r.error;
    EXPECT_EQ(r.opts.command, c.command);
    EXPECT_EQ(r.opts.socket, c.socket);
    EXPECT_EQ(r.opts.count, c.count);
}

INSTANTIATE_TEST_SUITE_P(
    table, parse_owner,
    ::testing::Values(owner_case{{"watch"}, command_kind::watch, "", 0},
                      owner_case{{"watch", "--count", "3"}, command_kind::watch, "", 3},
                      owner_case{{"--count=1", "watch"}, command_kind::watch, "", 1},
                      owner_case{{"--socket", "/run/relayd/ttyUSB0.sock", "on", "2"}, command_kind::on,
                                 "/run/relayd/ttyUSB0.sock", 0},
                      owner_case{{"--socket=/tmp/x.sock", "--count", "5", "watch"}, command_kind::watch, "/tmp/x.sock",
                                 5},
                      owner_case{{"status"}, command_kind::status, "", 0}));

struct exit_case {
    words args;
    parse_result::action what;
};

class parse_early_exit : public ::testing::TestWithParam<exit_case> {};
void PrintTo(const exit_case& c, std::ostream* os) { *os << quoted(c.args); }

TEST_P(parse_early_exit, wins_over_the_rest_of_the_line)
{
    EXPECT_EQ(parse_args(GetParam().args).what, GetParam().what);
}

INSTANTIATE_TEST_SUITE_P(table, parse_early_exit,
                         ::testing::Values(exit_case{{"--help"}, parse_result::action::help},
                                           exit_case{{"-h"}, parse_result::action::help},
                                           exit_case{{"status", "--help"}, parse_result::action::help},
                                           exit_case{{"--version"}, parse_result::action::version},
                                           exit_case{{"on", "1", "--version"}, parse_result::action::version},
                                           // A fault before the request for help is still a fault.
                                           exit_case{{"--frobnicate", "--help"}, parse_result::action::usage_error},
                                           // After "--" nothing is an option.
                                           exit_case{{"--", "--help"}, parse_result::action::usage_error}));

TEST(command_word, names_each_command_as_typed)
{
    for (const auto* word : {"status", "on", "off", "toggle", "all-on", "all-off", "watch"}) {
        const words args = std::string(word) == "on" || std::string(word) == "off" || std::string(word) == "toggle"
                               ? words{word, "1"}
                               : words{word};
        const auto r = parse_args(args);
        ASSERT_EQ(r.what, parse_result::action::run) << word;
        EXPECT_STREQ(command_word(r.opts.command), word);
    }
}

}  // namespace
}  // namespace relay::cli
