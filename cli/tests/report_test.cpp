#include "cli/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relay::cli {
namespace {

struct plain_case {
    relay_statuses statuses;
    std::string text;
};

class plain_format : public ::testing::TestWithParam<plain_case> {};
void PrintTo(const plain_case& c, std::ostream* os) { *os << c.text; }

TEST_P(plain_format, lists_the_four_relays_in_order)
{
    EXPECT_EQ(format_plain(GetParam().statuses), GetParam().text);
    // The JSON flag off gives the same line.
    EXPECT_EQ(format_states({"/dev/x", 1, GetParam().statuses}, false), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(table, plain_format,
                         ::testing::Values(plain_case{{1, 1, 1, 1}, "1=off 2=off 3=off 4=off"},
                                           plain_case{{2, 2, 2, 2}, "1=on 2=on 3=on 4=on"},
                                           plain_case{{2, 1, 1, 1}, "1=on 2=off 3=off 4=off"},
                                           plain_case{{1, 1, 1, 2}, "1=off 2=off 3=off 4=on"},
                                           plain_case{{0, 3, 0xFF, 2}, "1=unknown 2=unknown 3=unknown 4=on"}));

struct json_case {
    state_report report;
    std::string text;
};

class json_format : public ::testing::TestWithParam<json_case> {};
void PrintTo(const json_case& c, std::ostream* os) { *os << c.report.port; }

TEST_P(json_format, is_one_object_with_port_address_and_relays)
{
    EXPECT_EQ(format_json(GetParam().report), GetParam().text);
    EXPECT_EQ(format_states(GetParam().report, true), GetParam().text);
}

// Filled member by member: GCC 12 at -O2 warns falsely that the port string
// of a braced aggregate may be used uninitialized.
json_case row(const char* port, std::uint8_t address, relay_statuses statuses, const char* text,
              const relay_names& names = {})
{
    json_case c;
    c.report.names = names;
    c.report.port = port;
    c.report.address = address;
    c.report.statuses = statuses;
    c.text = text;
    return c;
}

std::vector<json_case> json_cases()
{
    return {
        row("/dev/pts/3", 1, {2, 1, 1, 1},
            R"({"port":"/dev/pts/3","address":1,"relays":{"1":"on","2":"off","3":"off","4":"off"}})"),
        row("/dev/ttyUSB0", 255, {1, 0, 2, 9},
            R"({"port":"/dev/ttyUSB0","address":255,"relays":{"1":"off","2":"unknown","3":"on","4":"unknown"}})"),
        row("/dev/ttyS0", 0, {1, 1, 1, 1},
            R"({"port":"/dev/ttyS0","address":0,"relays":{"1":"off","2":"off","3":"off","4":"off"}})"),
        // A device path may hold anything; the JSON must stay valid.
        row("/tmp/a\"b\\c\n\x01", 1, {1, 1, 1, 1},
            R"({"port":"/tmp/a\"b\\c\n\u0001","address":1,"relays":{"1":"off","2":"off","3":"off","4":"off"}})"),
        row("/dev/\xc3\xa9", 1, {1, 1, 1, 1},
            "{\"port\":\"/dev/\xc3\xa9\",\"address\":1,\"relays\":{\"1\":\"off\",\"2\":\"off\",\"3\":\"off\","
            "\"4\":\"off\"}}"),
        // Only the relays with a name, in order, and a name kept valid JSON.
        row("/dev/pts/3", 1, {2, 1, 1, 1},
            R"({"port":"/dev/pts/3","address":1,"relays":{"1":"on","2":"off","3":"off","4":"off"},)"
            R"("names":{"2":"pump","4":"say \"hi\""}})",
            {"", "pump", "", "say \"hi\""})};
}

INSTANTIATE_TEST_SUITE_P(table, json_format, ::testing::ValuesIn(json_cases()));

TEST(status_word, only_one_and_two_have_a_name)
{
    for (int b = 0; b < 256; ++b) {
        const std::string word = status_word(static_cast<std::uint8_t>(b));
        EXPECT_EQ(word, b == 1 ? "off" : b == 2 ? "on" : "unknown") << b;
    }
}

}  // namespace
}  // namespace relay::cli
