#include "cli/usage.h"
#include "protocol/reply_code.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace relay::cli {
namespace {

TEST(version_text, names_the_tool_and_the_project_version)
{
    EXPECT_EQ(version_text(), std::string("relayctl ") + RELAY_EXPECTED_VERSION);
}

class help_mentions : public ::testing::TestWithParam<const char*> {};

TEST_P(help_mentions, every_command_option_and_exit_status)
{
    EXPECT_NE(help_text().find(GetParam()), std::string::npos) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(table, help_mentions,
                         ::testing::Values("Usage: relayctl", "  status ", "  on R ", "  off R ", "  toggle R ",
                                           "  all-on ", "  all-off ", "--port N|DEVICE", "--address A",
                                           "--timeout MS", "--json", "--help", "--version", "  0  success",
                                           "  2  usage error", "  3  the port cannot be opened",
                                           "  4  no valid answer", "  5  the board answered but did not",
                                           "  watch ", "--count N", "--socket PATH", "  6  the owner of the port",
                                           "relayd", "  pulse R D ", "  cycle R D ", "500ms, 1.5s",
                                           "  7  the board's interlock"));

// Scripts test for the numbers help gives, and the same failure told by a
// port's owner must end relayctl with the same one.
TEST(help_text, gives_each_failure_the_exit_status_relayctl_returns)
{
    const std::pair<reply_code, const char*> failures[] = {
        {reply_code::usage, "usage error"}, {reply_code::port, "the port cannot be opened"},
        {reply_code::timeout, "no valid answer"}, {reply_code::refused, "the board answered but did not"},
        {reply_code::busy, "the owner of the port has too many"},
        {reply_code::interlock, "the board's interlock forbids"}};
    for (const auto& [code, meaning] : failures)
        EXPECT_NE(help_text().find("  " + std::to_string(exit_status_for(code)) + "  " + meaning), std::string::npos)
            << meaning;
}

TEST(help_text, fits_a_terminal)
{
    const std::string help = help_text();
    std::size_t start = 0;
    while (start < help.size()) {
        const auto end = help.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "ends with a newline";
        EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
        start = end + 1;
    }
}

TEST(usage_error_text, names_the_fault_and_points_to_help)
{
    EXPECT_EQ(usage_error_text("unknown command 'x'"),
              "relayctl: unknown command 'x'\nTry 'relayctl --help' for more information.\n");
}

}  // namespace
}  // namespace relay::cli
