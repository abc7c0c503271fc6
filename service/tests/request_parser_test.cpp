// Every request a client may send, and every malformed line, read in memory.

#include "service/request.h"

#include <gtest/gtest.h>

#include <string>

namespace relay {
namespace {

using namespace std::chrono_literals;

struct good_row {
    std::string line;
    command_kind kind;
    int relay;
    std::string id_json;  // the id as JSON text; empty for none
    std::chrono::milliseconds duration{0};
    std::string relay_name = {};
};

void PrintTo(const good_row& row, std::ostream* os) { *os << row.line; }

class parse_good : public ::testing::TestWithParam<good_row> {};

TEST_P(parse_good, reads_command_relay_and_id)
{
    const auto& row = GetParam();
    const auto parsed = parse_request(row.line);
    ASSERT_TRUE(std::holds_alternative<request>(parsed)) << std::get<usage_error>(parsed).why;
    const auto& r = std::get<request>(parsed);
    EXPECT_EQ(r.kind, row.kind);
    EXPECT_EQ(r.relay, row.relay);
    EXPECT_EQ(r.relay_name, row.relay_name);
    // The id kept as compact JSON, to be echoed as it came.
    EXPECT_EQ(r.id, row.id_json);
    EXPECT_EQ(r.duration.count(), row.duration.count());
}

INSTANTIATE_TEST_SUITE_P(
    table, parse_good,
    ::testing::Values(good_row{R"({"cmd":"status"})", command_kind::status, 0, ""},
                      good_row{R"({"cmd":"on","relay":1})", command_kind::on, 1, ""},
                      good_row{R"({"cmd":"off","relay":4})", command_kind::off, 4, ""},
                      good_row{R"({"cmd":"toggle","relay":3})", command_kind::toggle, 3, ""},
                      good_row{R"({"cmd":"all-on"})", command_kind::all_on, 0, ""},
                      good_row{R"({"cmd":"all-off"})", command_kind::all_off, 0, ""},
                      good_row{R"({"cmd":"watch"})", command_kind::watch, 0, ""},
                      good_row{R"({"cmd":"on","relay":2,"id":7})", command_kind::on, 2, "7"},
                      good_row{R"({"id":"abc","cmd":"status"})", command_kind::status, 0, "\"abc\""},
                      good_row{R"({"cmd":"status","id":null})", command_kind::status, 0, "null"},
                      good_row{R"({"cmd":"status","id": { "b" : [1, "\u00e9"], "a":false }})", command_kind::status, 0,
                               "{\"a\":false,\"b\":[1,\"\u00e9\"]}"},
                      good_row{"{\"cmd\":\"on\",\"relay\":2.0}\r", command_kind::on, 2, ""},
                      good_row{R"(  { "cmd" : "off" , "relay" : 3 }  )", command_kind::off, 3, ""},
                      // A name is left for the owner, who knows the board's names.
                      good_row{R"({"cmd":"on","relay":"pump","id":1})", command_kind::on, 0, "1", 0ms, "pump"},
                      good_row{R"({"cmd":"toggle","relay":"2"})", command_kind::toggle, 0, "", 0ms, "2"},
                      good_row{R"({"cmd":"off","relay":"fan \u00e0 air"})", command_kind::off, 0, "", 0ms,
                               "fan \u00e0 air"},
                      good_row{R"({"cmd":"pulse","relay":2,"ms":500})", command_kind::pulse, 2, "", 500ms},
                      good_row{R"({"cmd":"cycle","relay":4,"ms":5000.0,"id":1})", command_kind::cycle, 4, "1", 5s},
                      good_row{R"({"cmd":"pulse","relay":1,"ms":100})", command_kind::pulse, 1, "", 100ms},
                      good_row{R"({"cmd":"cycle","relay":3,"ms":86400000})", command_kind::cycle, 3, "", 24h},
                      good_row{R"({"cmd":"pulse","relay":"pump","ms":500})", command_kind::pulse, 0, "", 500ms, "pump"}));

struct bad_row {
    std::string name;
    std::string line;
    std::string why_part;
};

void PrintTo(const bad_row& row, std::ostream* os) { *os << row.name; }

class parse_bad : public ::testing::TestWithParam<bad_row> {};

TEST_P(parse_bad, is_a_usage_error_saying_why)
{
    const auto& row = GetParam();
    const auto parsed = parse_request(row.line);
    ASSERT_TRUE(std::holds_alternative<usage_error>(parsed));
    const auto& why = std::get<usage_error>(parsed).why;
    EXPECT_NE(why.find(row.why_part), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    table, parse_bad,
    ::testing::Values(
        bad_row{"not_json", "hello", "not JSON"}, bad_row{"empty", "", "empty"},
        bad_row{"array", R"(["status"])", "one JSON object"}, bad_row{"number", "42", "JSON"},
        bad_row{"unknown_command", R"({"cmd":"explode"})", "Unknown command \"explode\""},
        bad_row{"cmd_not_string", R"({"cmd":1})", "must be a string"},
        bad_row{"no_cmd", R"({"relay":1})", "no \"cmd\""},
        bad_row{"relay_0", R"({"cmd":"on","relay":0})", "1, 2, 3 or 4"},
        bad_row{"relay_5", R"({"cmd":"on","relay":5})", "1, 2, 3 or 4"},
        bad_row{"relay_negative", R"({"cmd":"off","relay":-1})", "1, 2, 3 or 4"},
        bad_row{"relay_fraction", R"({"cmd":"on","relay":1.5})", "1, 2, 3 or 4"},
        bad_row{"relay_empty_name", R"({"cmd":"on","relay":""})", "1, 2, 3 or 4, or a relay's name"},
        bad_row{"relay_list", R"({"cmd":"on","relay":[2]})", "1, 2, 3 or 4, or a relay's name"},
        bad_row{"relay_name_on_all_on", R"({"cmd":"all-on","relay":"pump"})", "takes no relay"},
        bad_row{"relay_huge", R"({"cmd":"on","relay":1e300})", "1, 2, 3 or 4"},
        bad_row{"missing_relay", R"({"cmd":"toggle"})", "needs \"relay\""},
        bad_row{"relay_on_status", R"({"cmd":"all-on","relay":2})", "takes no relay"},
        bad_row{"over_1_kib", "{\"cmd\":\"status\",\"pad\":\"" + std::string(1100, 'x') + "\"}", "longer than 1024"},
        bad_row{"nul_byte", std::string("{\"cmd\":\"status\"}\0", 17), "control bytes"},
        bad_row{"nul_in_string", std::string("{\"cmd\":\"sta\0tus\"}", 17), "control bytes"},
        bad_row{"invalid_utf8", "{\"cmd\":\"status\",\"x\":\"\xff\xfe\"}", "UTF-8"},
        bad_row{"truncated_utf8", "{\"cmd\":\"on\xc3\"}", "UTF-8"},
        bad_row{"two_objects", R"({"cmd":"status"}{"cmd":"status"})", "not JSON"},
        bad_row{"number_beyond_a_double", R"({"cmd":"on","relay":-2e308})", "out of range"},
        bad_row{"pulse_without_ms", R"({"cmd":"pulse","relay":2})", "needs \"ms\""},
        bad_row{"cycle_without_relay", R"({"cmd":"cycle","ms":500})", "needs \"relay\""},
        bad_row{"ms_under_100", R"({"cmd":"pulse","relay":2,"ms":99})", "from 100 to 86400000"},
        bad_row{"ms_over_a_day", R"({"cmd":"cycle","relay":2,"ms":86400001})", "from 100 to 86400000"},
        bad_row{"ms_fraction", R"({"cmd":"pulse","relay":2,"ms":150.5})", "whole number"},
        bad_row{"ms_string", R"({"cmd":"pulse","relay":2,"ms":"500"})", "whole number"},
        bad_row{"ms_negative", R"({"cmd":"pulse","relay":2,"ms":-500})", "whole number"},
        bad_row{"ms_huge", R"({"cmd":"pulse","relay":2,"ms":1e300})", "whole number"},
        bad_row{"ms_on_an_on", R"({"cmd":"on","relay":2,"ms":500})", "takes no \"ms\""},
        bad_row{"ms_on_a_status", R"({"cmd":"status","ms":500})", "takes no \"ms\""}));

TEST(parse_bad_id, keeps_the_id_of_a_request_it_refuses)
{
    const auto parsed = parse_request(R"({"cmd":"on","relay":9,"id":"x1"})");
    ASSERT_TRUE(std::holds_alternative<usage_error>(parsed));
    EXPECT_EQ(std::get<usage_error>(parsed).id, "\"x1\"");
}

}  // namespace
}  // namespace relay
