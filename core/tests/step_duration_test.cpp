// Durations as people write them and as machines send them: every unit,
// the bounds on both sides, and text that must not become a duration.

#include "core/step_duration.h"

#include <gtest/gtest.h>

#include <string>

namespace relay {
namespace {

using std::chrono::milliseconds;

struct duration_row {
    const char* name;
    std::string text;
    long long ms;  // when read
    std::string refusal;  // when refused: the start of the reason
};

class step_duration_rows : public ::testing::TestWithParam<duration_row> {};

TEST_P(step_duration_rows, row)
{
    const auto& row = GetParam();
    const auto result = parse_step_duration(row.text);
    if (row.refusal.empty()) {
        ASSERT_TRUE(std::holds_alternative<milliseconds>(result)) << std::get<std::string>(result);
        EXPECT_EQ(std::get<milliseconds>(result).count(), row.ms);
    } else {
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << std::get<milliseconds>(result).count();
        EXPECT_EQ(std::get<std::string>(result).rfind(row.refusal, 0), 0u) << std::get<std::string>(result);
    }
}

const std::string garbage = "is not a duration: write a number with ms, s, m, min or h";
const std::string range = "a duration must be from 100 ms to 24 h";

const duration_row duration_rows[] = {
    {"milliseconds", "500ms", 500, ""},
    {"fraction_of_seconds", "1.5s", 1500, ""},
    {"bare_number_is_seconds", "2", 2000, ""},
    {"bare_fraction_is_seconds", "0.25", 250, ""},
    {"minutes_short", "10m", 600000, ""},
    {"minutes_long", "10min", 600000, ""},
    {"hours", "2h", 7200000, ""},
    {"shortest", "100ms", 100, ""},
    {"shortest_in_seconds", "0.1s", 100, ""},
    {"longest", "24h", 86400000, ""},
    {"longest_in_minutes", "1440m", 86400000, ""},
    {"rounded_to_the_millisecond", "0.1234s", 123, ""},
    {"too_short", "99ms", 0, range + ", not 99ms"},
    {"zero", "0", 0, range},
    {"too_long", "24.001h", 0, range},
    {"far_too_long", "99999999999999h", 0, range},
    {"empty", "", 0, "'' " + garbage},
    {"unit_alone", "ms", 0, "'ms' " + garbage},
    {"unknown_unit", "5sec", 0, "'5sec' " + garbage},
    {"upper_case_unit", "5S", 0, "'5S' " + garbage},
    {"blank_inside", "5 s", 0, "'5 s' " + garbage},
    {"negative", "-5s", 0, "'-5s' " + garbage},
    {"exponent", "1e3ms", 0, "'1e3ms' " + garbage},
    {"point_without_fraction", "1.s", 0, "'1.s' " + garbage},
    {"point_without_whole", ".5s", 0, "'.5s' " + garbage},
    {"two_points", "1.2.3s", 0, "'1.2.3s' " + garbage},
    {"escape_shown_not_obeyed", "\x1b[2J", 0, "'\\x1b[2J' " + garbage},
};

INSTANTIATE_TEST_SUITE_P(rows, step_duration_rows, ::testing::ValuesIn(duration_rows),
                         [](const auto& info) { return std::string(info.param.name); });

struct ms_row {
    const char* name;
    std::string text;
    long long ms;  // 0: refused
};

class step_milliseconds_rows : public ::testing::TestWithParam<ms_row> {};

TEST_P(step_milliseconds_rows, row)
{
    const auto result = parse_step_milliseconds(GetParam().text);
    if (GetParam().ms == 0)
        EXPECT_TRUE(std::holds_alternative<std::string>(result));
    else
        EXPECT_EQ(std::get<milliseconds>(result).count(), GetParam().ms);
}

const ms_row ms_rows[] = {
    {"shortest", "100", 100},
    {"longest", "86400000", 86400000},
    {"too_short", "99", 0},
    {"too_long", "86400001", 0},
    {"units_are_not_taken", "500ms", 0},
    {"fraction", "500.5", 0},
    {"sign", "+500", 0},
    {"blank", " 500", 0},
    {"empty", "", 0},
    {"beyond_any_counter", "99999999999999999999", 0},
};

INSTANTIATE_TEST_SUITE_P(rows, step_milliseconds_rows, ::testing::ValuesIn(ms_rows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace relay
