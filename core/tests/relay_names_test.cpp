// Relay names: what a text resolves to, and which names are refused.

#include "core/relay_names.h"

#include <gtest/gtest.h>

#include <string>

namespace relay {
namespace {

const relay_names pump_and_fan{"", "pump", "", "fan 2"};

struct resolve_row {
    const char* name;
    std::string text;
    int relay;  // 0: names none
};

class resolve_rows : public ::testing::TestWithParam<resolve_row> {};

TEST_P(resolve_rows, row) { EXPECT_EQ(resolve_relay(pump_and_fan, GetParam().text).value_or(0), GetParam().relay); }

const resolve_row resolve_table[] = {
    {"number", "1", 1},
    {"number_of_a_named_relay", "2", 2},
    {"last_number", "4", 4},
    {"name", "pump", 2},
    {"name_with_a_blank", "fan 2", 4},
    {"name_of_another_case", "Pump", 0},
    {"prefix_of_a_name", "pu", 0},
    {"number_out_of_range", "5", 0},
    {"zero", "0", 0},
    {"padded_number", "02", 0},
    {"empty", "", 0},
};

INSTANTIATE_TEST_SUITE_P(rows, resolve_rows, ::testing::ValuesIn(resolve_table),
                         [](const auto& info) { return std::string(info.param.name); });

struct name_row {
    const char* name;
    int relay;
    std::string text;
    std::string error;  // empty: accepted
};

class name_rows : public ::testing::TestWithParam<name_row> {};

TEST_P(name_rows, row)
{
    EXPECT_EQ(relay_name_error(pump_and_fan, GetParam().relay, GetParam().text), GetParam().error);
}

const name_row name_table[] = {
    {"plain", 1, "door", ""},
    {"utf8", 1, "pompe \xc3\xa0 eau", ""},
    {"its_own_name_again", 2, "pump", ""},
    {"another_relays_name", 1, "pump", "the name 'pump' is already relay 2's"},
    {"whole_number", 1, "7", "the name '7' is a number: it would be read as a relay number"},
    {"decimal_number", 1, "2.0", "the name '2.0' is a number: it would be read as a relay number"},
    {"control_byte", 1, "a\x1b[2J", "the name 'a\\x1b[2J' holds bytes that are not printable text"},
    {"latin1_byte", 1, "caf\xe9", "the name 'caf\\xe9' holds bytes that are not printable text"},
    {"empty", 1, "", "a relay's name cannot be empty"},
    {"too_long", 1, std::string(65, 'x'),
     "the name '" + std::string(64, 'x') + "... (65 bytes)' is longer than 64 bytes"},
};

INSTANTIATE_TEST_SUITE_P(rows, name_rows, ::testing::ValuesIn(name_table),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(relay_names, an_unknown_name_is_answered_with_the_relays_there_are)
{
    EXPECT_EQ(unknown_relay_words(pump_and_fan, "pmup"),
              "no relay is named 'pmup': the relays are 1 to 4, pump (2), fan 2 (4)");
    EXPECT_EQ(unknown_relay_words(relay_names{}, "x"), "no relay is named 'x': the relays are 1 to 4");
    EXPECT_FALSE(has_names(relay_names{}));
    EXPECT_TRUE(has_names(pump_and_fan));
}

}  // namespace
}  // namespace relay
