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

system_clock::time_point at_ms(long long ms) { return system_clock::time_point(milliseconds(ms)); }

struct read_row {
    const char* name;
    std::string text;
    std::vector<saved_step> steps;
};

class pending_text : public ::testing::TestWithParam<read_row> {};

TEST_P(pending_text, reads_the_steps_it_makes_sense_of)
{
    EXPECT_EQ(parse_pending_steps(GetParam().text), GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(
    files, pending_text,
    ::testing::Values(
        read_row{"two_steps", "2 off 1700000000123\n4 on 1700000005000\n",
                 {{2, relay_state::off, at_ms(1700000000123)}, {4, relay_state::on, at_ms(1700000005000)}}},
        read_row{"torn_last_line", "3 on 1700000000000\n1 of", {{3, relay_state::on, at_ms(1700000000000)}}},
        read_row{"relay_out_of_range", "5 off 1700000000000\n0 on 1\n", {}},
        read_row{"unknown_state", "2 unknown 1700000000000\n", {}},
        read_row{"negative_time", "2 off -5\n", {}},
        read_row{"words_after", "2 off 17 and more\n", {}},
        read_row{"empty", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pending_file, is_written_whole_read_back_and_gone_when_nothing_is_pending)
{
    const auto path = ::testing::TempDir() + "pending-file-test/board";
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
    const std::vector<saved_step> steps{{1, relay_state::off, at_ms(1700000000001)},
                                        {2, relay_state::on, at_ms(1700000009999)}};
    ASSERT_EQ(save_pending_steps(path, steps), "");
    EXPECT_EQ(load_pending_steps(path), steps);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));

    ASSERT_EQ(save_pending_steps(path, {steps[1]}), "");
    EXPECT_EQ(load_pending_steps(path), std::vector<saved_step>{steps[1]});

    ASSERT_EQ(save_pending_steps(path, {}), "");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(load_pending_steps(path).empty());
}

}  // namespace
}  // namespace relay::relayd
