// relayd's command line, row by row.

#include "relayd/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relay::relayd {
namespace {

struct good_row {
    const char* name;
    std::vector<std::string> args;
    options expected;
};

options with(std::string port, int address, bool simulate, std::string socket, std::string config, bool system)
{
    options o;
    o.port = std::move(port);
    o.address = static_cast<std::uint8_t>(address);
    o.simulate = simulate;
    o.socket = std::move(socket);
    o.config = std::move(config);
    o.system = system;
    return o;
}

class parse_args_accepts : public ::testing::TestWithParam<good_row> {};

TEST_P(parse_args_accepts, row)
{
    const auto r = parse_args(GetParam().args);
    ASSERT_EQ(r.what, parse_result::action::run) << r.error;
    const auto& want = GetParam().expected;
    EXPECT_EQ(r.opts.port, want.port);
    EXPECT_EQ(r.opts.address, want.address);
    EXPECT_EQ(r.opts.simulate, want.simulate);
    EXPECT_EQ(r.opts.socket, want.socket);
    EXPECT_EQ(r.opts.config, want.config);
    EXPECT_EQ(r.opts.system, want.system);
    EXPECT_EQ(r.opts.mqtt_url, want.mqtt_url);
    EXPECT_EQ(r.opts.http, want.http);
}

options on_http(options o, std::string listen)
{
    o.http = std::move(listen);
    return o;
}

options on_mqtt(options o, std::string url)
{
    o.mqtt_url = std::move(url);
    return o;
}

const good_row good_rows[] = {
    {"nothing", {}, with("1", 1, false, "", "", false)},
    {"port_device", {"--port", "ttyUSB0"}, with("ttyUSB0", 1, false, "", "", false)},
    {"port_equals", {"--port=/dev/pts/3", "--address=255"}, with("/dev/pts/3", 255, false, "", "", false)},
    {"address_zero", {"--address", "0"}, with("1", 0, false, "", "", false)},
    {"simulate_socket", {"--simulate", "--socket", "/tmp/a.sock"}, with("1", 1, true, "/tmp/a.sock", "", false)},
    {"config_system", {"--config", "/etc/relayd.conf", "--system"}, with("1", 1, false, "", "/etc/relayd.conf", true)},
    {"mqtt", {"--mqtt", "mqtt://broker.lan"}, on_mqtt(with("1", 1, false, "", "", false), "mqtt://broker.lan")},
    {"mqtt_equals_with_config", {"--config=/etc/relayd.conf", "--mqtt=mqtts://[::1]:8883"},
     on_mqtt(with("1", 1, false, "", "/etc/relayd.conf", false), "mqtts://[::1]:8883")},
    {"http", {"--simulate", "--http", "8080"}, on_http(with("1", 1, true, "", "", false), "8080")},
    {"http_equals", {"--http=[::1]:8080"}, on_http(with("1", 1, false, "", "", false), "[::1]:8080")},
};

INSTANTIATE_TEST_SUITE_P(rows, parse_args_accepts, ::testing::ValuesIn(good_rows),
                         [](const auto& info) { return std::string(info.param.name); });

struct bad_row {
    const char* name;
    std::vector<std::string> args;
    const char* error;
};

class parse_args_refuses : public ::testing::TestWithParam<bad_row> {};

TEST_P(parse_args_refuses, row)
{
    const auto r = parse_args(GetParam().args);
    EXPECT_EQ(r.what, parse_result::action::usage_error);
    EXPECT_EQ(r.error, GetParam().error);
}

const bad_row bad_rows[] = {
    {"unknown_option", {"--verbose"}, "unknown option '--verbose'"},
    {"argument", {"status"}, "unexpected argument 'status' (relayd takes options only)"},
    {"port_without_value", {"--port"}, "option '--port' needs a value"},
    {"empty_port", {"--port="}, "option '--port' needs a value that is not empty"},
    {"address_256", {"--address", "256"}, "--address must be a whole number from 0 to 255, not '256'"},
    {"address_negative", {"--address", "-1"}, "--address must be a whole number from 0 to 255, not '-1'"},
    {"address_hex", {"--address=0x1"}, "--address must be a whole number from 0 to 255, not '0x1'"},
    {"mqtt_without_value", {"--mqtt"}, "option '--mqtt' needs a value"},
    {"empty_mqtt", {"--mqtt="}, "option '--mqtt' needs a value that is not empty"},
    {"http_without_value", {"--http"}, "option '--http' needs a value"},
    {"relative_socket", {"--socket", "a.sock"}, "--socket needs an absolute path, not 'a.sock'"},
    {"escape_in_an_option", {"--\x1b[2J"}, "unknown option '--\\x1b[2J'"},
    {"newline_in_an_argument", {"a\nb"}, "unexpected argument 'a\\x0ab' (relayd takes options only)"},
    {"latin1_socket", {"--socket", "s\xe9.sock"}, "--socket needs an absolute path, not 's\\xe9.sock'"},
    {"config_and_port", {"--config", "/etc/relayd.conf", "--port", "2"},
     "--port cannot be combined with --config: give each board's port in the file"},
    {"config_and_address", {"--address", "3", "--config", "/etc/relayd.conf"},
     "--address cannot be combined with --config: give each board's address in the file"},
    {"config_and_socket", {"--config=/x.conf", "--socket=/tmp/a.sock"},
     "--socket cannot be combined with --config: give each board's socket in the file"},
};

INSTANTIATE_TEST_SUITE_P(rows, parse_args_refuses, ::testing::ValuesIn(bad_rows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(parse_args, help_and_version_win_over_mistakes)
{
    EXPECT_EQ(parse_args({"--help", "--bogus"}).what, parse_result::action::help);
    EXPECT_EQ(parse_args({"-h"}).what, parse_result::action::help);
    EXPECT_EQ(parse_args({"--version"}).what, parse_result::action::version);
}

}  // namespace
}  // namespace relay::relayd
