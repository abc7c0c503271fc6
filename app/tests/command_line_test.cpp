// relay-panel's command line: its own options, Qt's, and the mistakes that
// must not open a window as if nothing had been asked.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace relay {
namespace {

using words = std::vector<std::string>;
using action = panel_command_line::action;

struct row {
    words args;
    action what;
    bool simulate;
    std::string error;  // a part of the one-line error, for usage errors
};

void PrintTo(const row& r, std::ostream* os)
{
    for (const auto& a : r.args)
        *os << "'" << a << "' ";
}

class panel_command_lines : public ::testing::TestWithParam<row> {};

TEST_P(panel_command_lines, read_as_meant)
{
    const auto& r = GetParam();
    const auto line = read_panel_command_line(r.args);
    EXPECT_EQ(line.what, r.what) << line.error;
    if (r.what == action::run) {
        EXPECT_EQ(line.simulate, r.simulate);
    }
    if (r.what == action::usage_error) {
        EXPECT_NE(line.error.find(r.error), std::string::npos) << line.error;
        EXPECT_EQ(line.error.find('\n'), std::string::npos) << line.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    table, panel_command_lines,
    ::testing::Values(row{{}, action::run, false, ""}, row{{"--simulate"}, action::run, true, ""},
                      row{{"--help"}, action::help, false, ""}, row{{"-h"}, action::help, false, ""},
                      row{{"--simulate", "--version"}, action::version, false, ""},
                      // Qt's own, with their values, in every spelling Qt takes.
                      row{{"-platform", "offscreen", "--simulate"}, action::run, true, ""},
                      row{{"--platform", "xcb"}, action::run, false, ""},
                      row{{"-style=fusion", "-reverse"}, action::run, false, ""},
                      row{{"-qwindowgeometry", "400x300+0+0", "-display", ":1"}, action::run, false, ""},
                      // Mistakes.
                      row{{"--simlate"}, action::usage_error, false, "unknown option '--simlate'"},
                      row{{"-simulate"}, action::usage_error, false, "unknown option '-simulate'"},
                      row{{"--simulate=yes"}, action::usage_error, false, "unknown option '--simulate=yes'"},
                      row{{"-reverse=1"}, action::usage_error, false, "unknown option '-reverse=1'"},
                      row{{"ttyUSB0"}, action::usage_error, false, "unexpected argument 'ttyUSB0'"},
                      row{{"-"}, action::usage_error, false, "unexpected argument '-'"},
                      row{{"-platform"}, action::usage_error, false, "'-platform' needs a value"}));

}  // namespace
}  // namespace relay
