// Where relayd's MQTT settings come from: --mqtt, the [mqtt] section, both
// or neither, row by row.

#include "relayd/mqtt_choice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace relay::relayd {
namespace {

using keys = std::map<std::string, std::string>;

struct choice_row {
    const char* name;
    std::string command_line;
    keys section;
    bool wanted;
    std::string url;
    keys passed_on;
    std::string error;
};

class choose_mqtt_rows : public ::testing::TestWithParam<choice_row> {};

TEST_P(choose_mqtt_rows, row)
{
    const auto& row = GetParam();
    const auto c = choose_mqtt(row.command_line, row.section, "/etc/relayd.conf");
    EXPECT_EQ(c.wanted, row.wanted);
    EXPECT_EQ(c.url, row.url);
    EXPECT_EQ(c.error, row.error);
    if (row.wanted) {
        EXPECT_EQ(c.keys, row.passed_on);
    }
}

const choice_row rows[] = {
    {"neither", "", {}, false, "", {}, ""},
    {"command_line_only", "mqtt://a", {}, true, "mqtt://a", {}, ""},
    {"file_only", "", {{"url", "mqtt://b"}, {"user", "u"}}, true, "mqtt://b", {{"user", "u"}}, ""},
    {"command_line_wins", "mqtt://a", {{"url", "mqtt://b"}, {"topic_prefix", "p"}}, true, "mqtt://a",
     {{"topic_prefix", "p"}}, ""},
    {"command_line_gives_the_url_for_file_keys", "mqtts://a", {{"ca_file", "/ca.pem"}}, true, "mqtts://a",
     {{"ca_file", "/ca.pem"}}, ""},
    {"keys_without_url", "", {{"user", "u"}}, false, "", {},
     "/etc/relayd.conf: the [mqtt] section has no url: add url = mqtt://HOST (or mqtts://) or give --mqtt URL"},
    {"empty_url", "", {{"url", ""}}, false, "", {},
     "/etc/relayd.conf: the [mqtt] section has no url: add url = mqtt://HOST (or mqtts://) or give --mqtt URL"},
};

INSTANTIATE_TEST_SUITE_P(rows, choose_mqtt_rows, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace relay::relayd
