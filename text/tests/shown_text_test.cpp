// What a message shows of text from outside: every byte a terminal would
// act on, and every byte that is not UTF-8, escaped; the rest as typed.

#include "text/shown_text.h"

#include <gtest/gtest.h>

#include <string>

namespace relay {
namespace {

struct shown_row {
    const char* name;
    std::string text;
    std::string shown;
};

class shown_text_rows : public ::testing::TestWithParam<shown_row> {};

TEST_P(shown_text_rows, row) { EXPECT_EQ(shown_text(GetParam().text), GetParam().shown); }

const shown_row rows[] = {
    {"plain", "/dev/ttyUSB0", "/dev/ttyUSB0"},
    {"blanks_and_backslash", "a b\tc\\d", "a b\\x09c\\d"},
    {"nul", std::string("pts/90\0", 7), "pts/90\\x00"},
    {"title_escape", "\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
    {"newline_and_return", "a\r\nb", "a\\x0d\\x0ab"},
    {"del", "a\x7f", "a\\x7f"},
    {"utf8_kept", "r\xc3\xa9seau \xe2\x82\xac \xf0\x9f\x94\x8c", "r\xc3\xa9seau \xe2\x82\xac \xf0\x9f\x94\x8c"},
    {"c1_control", "a\xc2\x9bJ", "a\\xc2\\x9bJ"},
    {"latin1_byte", "caf\xe9", "caf\\xe9"},
    {"stray_continuation", "\x80x", "\\x80x"},
    {"lead_then_ascii", "\xc3(", "\\xc3("},
    {"cut_short_at_end", "\xe2\x82", "\\xe2\\x82"},
    {"overlong_slash", "\xc0\xaf", "\\xc0\\xaf"},
    {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
    {"beyond_unicode", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
};

INSTANTIATE_TEST_SUITE_P(rows, shown_text_rows, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(shown_text, long_text_is_cut_at_a_whole_character_and_says_its_length)
{
    EXPECT_EQ(shown_text(std::string(10000, 'x'), 8), "xxxxxxxx... (10000 bytes)");
    // The euro sign's three bytes would straddle the cut: it goes whole.
    EXPECT_EQ(shown_text("abcdef\xe2\x82\xac", 8), "abcdef... (9 bytes)");
    EXPECT_EQ(shown_text("abcdefgh", 8), "abcdefgh");
}

}  // namespace
}  // namespace relay
