// The broker URL and the [mqtt] keys: every value the daemon accepts, and
// for every one it refuses, words that say what is wrong.

#include "mqtt/mqtt_settings.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

#include <sys/stat.h>

namespace relay::mqtt {
namespace {

using keys = std::map<std::string, std::string>;

struct good_row {
    const char* name;
    std::string url;
    keys config;
    std::string host;
    std::uint16_t port;
    bool tls;
    std::string topic_prefix;
    std::string discovery_prefix;
    std::string client_id;
};

class accepted : public ::testing::TestWithParam<good_row> {};

TEST_P(accepted, gives_the_settings)
{
    const auto& row = GetParam();
    const auto r = parse_mqtt_settings(row.url, row.config, "bench");
    ASSERT_TRUE(r.settings) << r.error;
    EXPECT_EQ(r.settings->host, row.host);
    EXPECT_EQ(r.settings->port, row.port);
    EXPECT_EQ(r.settings->tls, row.tls);
    EXPECT_EQ(r.settings->topic_prefix, row.topic_prefix);
    EXPECT_EQ(r.settings->discovery_prefix, row.discovery_prefix);
    EXPECT_EQ(r.settings->client_id, row.client_id);
}

INSTANTIATE_TEST_SUITE_P(
    urls_and_keys, accepted,
    ::testing::Values(
        good_row{"plain_default_port", "mqtt://broker.lan", {}, "broker.lan", 1883, false, "relay-panel",
                 "homeassistant", "relayd-bench"},
        good_row{"tls_default_port", "mqtts://broker.lan", {}, "broker.lan", 8883, true, "relay-panel",
                 "homeassistant", "relayd-bench"},
        good_row{"port_given", "mqtt://10.0.0.2:1884", {}, "10.0.0.2", 1884, false, "relay-panel", "homeassistant",
                 "relayd-bench"},
        good_row{"trailing_slash", "mqtt://h/", {}, "h", 1883, false, "relay-panel", "homeassistant",
                 "relayd-bench"},
        good_row{"ipv6", "mqtt://[::1]:1999", {}, "::1", 1999, false, "relay-panel", "homeassistant",
                 "relayd-bench"},
        good_row{"prefixes_and_id",
                 "mqtts://h:8884",
                 {{"topic_prefix", "house/relays"}, {"discovery_prefix", "ha"}, {"client_id", "relayd-attic"},
                  {"ca_file", "/etc/ca.pem"}, {"user", "relayd"}, {"password_file", "/etc/relayd.pw"}},
                 "h",
                 8884,
                 true,
                 "house/relays",
                 "ha",
                 "relayd-attic"},
        good_row{"discovery_off", "mqtt://h", {{"discovery_prefix", "off"}}, "h", 1883, false, "relay-panel", "",
                 "relayd-bench"}),
    [](const auto& info) { return std::string(info.param.name); });

struct bad_row {
    const char* name;
    std::string url;
    keys config;
    std::string words;  // what the message must say
};

class refused : public ::testing::TestWithParam<bad_row> {};

TEST_P(refused, says_why)
{
    const auto& row = GetParam();
    const auto r = parse_mqtt_settings(row.url, row.config, "bench");
    EXPECT_FALSE(r.settings);
    EXPECT_NE(r.error.find(row.words), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    urls_and_keys, refused,
    ::testing::Values(
        bad_row{"no_scheme", "broker:1883", {}, "must start with mqtt:// or mqtts://"},
        bad_row{"http", "http://broker", {}, "must start with mqtt:// or mqtts://"},
        bad_row{"empty", "", {}, "must start with mqtt://"},
        bad_row{"no_host", "mqtt://", {}, "names no host"},
        bad_row{"no_host_with_port", "mqtt://:1883", {}, "names no host"},
        bad_row{"port_zero", "mqtt://h:0", {}, "not a port number (1 to 65535)"},
        bad_row{"port_too_big", "mqtt://h:65536", {}, "not a port number"},
        bad_row{"port_letters", "mqtt://h:mqtt", {}, "not a port number"},
        bad_row{"port_empty", "mqtt://h:", {}, "without a port"},
        bad_row{"password_in_url", "mqtt://u:secret@h", {}, "must not carry a user or password"},
        bad_row{"path", "mqtt://h/topic", {}, "has a path"},
        bad_row{"bad_host", "mqtt://bro ker", {}, "characters a host name cannot have"},
        bad_row{"ipv6_unclosed", "mqtt://[::1", {}, "never closes"},
        bad_row{"unknown_key", "mqtt://h", {{"password", "x"}}, "unknown key \"password\""},
        bad_row{"empty_value", "mqtt://h", {{"user", ""}}, "is empty"},
        bad_row{"password_without_user", "mqtt://h", {{"password_file", "/p"}}, "user is not"},
        bad_row{"ca_without_tls", "mqtt://h", {{"ca_file", "/ca.pem"}}, "use mqtts://"},
        bad_row{"prefix_wildcard", "mqtt://h", {{"topic_prefix", "a/#"}}, "cannot be a topic prefix"},
        bad_row{"prefix_plus", "mqtt://h", {{"topic_prefix", "a+b"}}, "cannot be a topic prefix"},
        bad_row{"prefix_slash", "mqtt://h", {{"topic_prefix", "/relays"}}, "cannot be a topic prefix"},
        bad_row{"prefix_dollar", "mqtt://h", {{"topic_prefix", "$SYS"}}, "cannot be a topic prefix"},
        bad_row{"discovery_empty_level", "mqtt://h", {{"discovery_prefix", "a//b"}}, "cannot be a topic prefix"},
        bad_row{"client_id_space", "mqtt://h", {{"client_id", "relay d"}}, "holds a space"}),
    [](const auto& info) { return std::string(info.param.name); });

struct password_row {
    const char* name;
    mode_t mode;
    std::string content;
    std::optional<std::string> password;
    std::string words;
};

class password_file : public ::testing::TestWithParam<password_row> {};

TEST_P(password_file, is_read_only_when_private)
{
    const auto& row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto path = dir.filePath("password").toStdString();
    std::ofstream(path) << row.content;
    ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
    const auto r = read_password_file(path);
    EXPECT_EQ(r.password, row.password);
    EXPECT_NE(r.error.find(row.words), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    modes, password_file,
    ::testing::Values(password_row{"owner_only", 0600, "s3cret\n", "s3cret", ""},
                      password_row{"owner_read_only", 0400, "s3cret", "s3cret", ""},
                      password_row{"crlf", 0600, "s3cret\r\nsecond line\n", "s3cret", ""},
                      password_row{"group_readable", 0640, "s3cret\n", std::nullopt,
                                   "has mode 0640: it is open to other users, so it is refused"},
                      password_row{"world_readable", 0604, "s3cret\n", std::nullopt, "open to other users"},
                      password_row{"group_writable", 0620, "s3cret\n", std::nullopt, "open to other users"},
                      password_row{"empty", 0600, "", std::nullopt, "is empty"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(password_file_missing, says_it_cannot_be_read)
{
    const auto r = read_password_file("/nonexistent/relayd.pw");
    EXPECT_FALSE(r.password);
    EXPECT_NE(r.error.find("cannot read the password file /nonexistent/relayd.pw"), std::string::npos) << r.error;
}

}  // namespace
}  // namespace relay::mqtt
