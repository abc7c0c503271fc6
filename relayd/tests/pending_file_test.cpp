// The file of timed steps a board still owes: what is read back from it,
// whatever a crash or a hand left in it, and that saving replaces it whole.

#include "relayd/pending_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace relay::relayd {
namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;
using namespace std::chrono_literals;

system_clock::time_point at_ms(long long ms) { return system_clock::time_point(milliseconds(ms)); }

// When every row is read back.
constexpr long long now_ms = 1700000000000;
constexpr long long day_ms = 24 * 3600 * 1000;

struct read_row {
    const char* name;
    std::string text;
    std::vector<saved_step> steps;
    // The time each step read still has at now_ms, in order.
    std::vector<milliseconds> left;
    std::size_t ignored = 0;
};

class pending_text : public ::testing::TestWithParam<read_row> {};

TEST_P(pending_text, reads_the_steps_it_makes_sense_of_and_bounds_their_time)
{
    const auto& row = GetParam();
    const auto read = parse_pending_steps(row.text, at_ms(now_ms));
    EXPECT_EQ(read.steps, row.steps);
    EXPECT_EQ(read.ignored.size(), row.ignored) << ::testing::PrintToString(read.ignored);
    std::vector<milliseconds> left;
    for (const auto& step : read.steps)
        left.push_back(time_left_of(step, at_ms(now_ms)));
    EXPECT_EQ(left, row.left);
}

INSTANTIATE_TEST_SUITE_P(
    files, pending_text,
    ::testing::Values(
        read_row{"two_steps", "2 off 1700000000123 500\n4 on 1700000005000 5000\n",
                 {{2, relay_state::off, at_ms(1700000000123), 500ms}, {4, relay_state::on, at_ms(1700000005000), 5000ms}},
                 {123ms, 5000ms}},
        read_row{"due_already", "2 off 1699999990000 2000\n", {{2, relay_state::off, at_ms(1699999990000), 2000ms}},
                 {0ms}},
        // An older run wrote no length: the due time alone, up to a day ahead.
        read_row{"line_without_length", "3 on 1700000000250\n", {{3, relay_state::on, at_ms(1700000000250), {}}},
                 {250ms}},
        read_row{"line_without_length_a_day_ahead", "3 on " + std::to_string(now_ms + day_ms) + "\n",
                 {{3, relay_state::on, at_ms(now_ms + day_ms), {}}}, {milliseconds(day_ms)}},
        read_row{"line_without_length_due_further_than_a_day", "3 on " + std::to_string(now_ms + day_ms + 1) + "\n",
                 {}, {}, 1},
        // The clock came up behind the step's start: its own length at most.
        read_row{"clock_behind_the_start", "2 off 1700003600000 2000\n",
                 {{2, relay_state::off, at_ms(1700003600000), 2000ms}}, {2000ms}},
        read_row{"clock_years_behind", "2 off 1900000000000 2000\n",
                 {{2, relay_state::off, at_ms(1900000000000), 2000ms}}, {2000ms}},
        read_row{"due_beyond_what_the_clock_holds", "2 off 9300000000000000 2000\n", {}, {}, 1},
        read_row{"due_beyond_any_number", "2 off 99999999999999999999 2000\n", {}, {}, 1},
        read_row{"length_beyond_a_day", "2 off 1700000002000 " + std::to_string(day_ms + 1) + "\n", {}, {}, 1},
        read_row{"negative_length", "2 off 1700000002000 -1\n", {}, {}, 1},
        read_row{"torn_last_line", "3 on 1700000000000 100\n1 of",
                 {{3, relay_state::on, at_ms(1700000000000), 100ms}}, {0ms}, 1},
        read_row{"relay_out_of_range", "5 off 1700000000000\n0 on 1\n", {}, {}, 2},
        read_row{"unknown_state", "2 unknown 1700000000000\n", {}, {}, 1},
        read_row{"negative_time", "2 off -5\n", {}, {}, 1},
        read_row{"words_after", "2 off 17 and more\n2 off 17 100 more\n", {}, {}, 2},
        read_row{"empty", "", {}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pending_file, is_written_whole_read_back_and_gone_when_nothing_is_pending)
{
    const auto path = ::testing::TempDir() + "pending-file-test/board";
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
    const std::vector<saved_step> steps{{1, relay_state::off, at_ms(1700000000001), 100ms},
                                        {2, relay_state::on, at_ms(1700000009999), 86400000ms}};
    ASSERT_EQ(save_pending_steps(path, steps), "");
    EXPECT_EQ(load_pending_steps(path, at_ms(now_ms)).steps, steps);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));

    ASSERT_EQ(save_pending_steps(path, {steps[1]}), "");
    EXPECT_EQ(load_pending_steps(path, at_ms(now_ms)).steps, std::vector<saved_step>{steps[1]});

    ASSERT_EQ(save_pending_steps(path, {}), "");
    EXPECT_FALSE(std::filesystem::exists(path));
    const auto gone = load_pending_steps(path, at_ms(now_ms));
    EXPECT_TRUE(gone.steps.empty() && gone.ignored.empty());
}

}  // namespace
}  // namespace relay::relayd
