// Cutting a client's bytes into lines, with the 1 KiB limit.

#include "service/line_reader.h"

#include <gtest/gtest.h>

namespace relay {
namespace {

struct reader_row {
    std::string name;
    std::vector<std::string> pieces;  // fed one after another
    std::vector<std::string> lines;   // "!" stands for a too-long report
    std::size_t left_buffered;
    std::string at_end;  // the last line finish() yields without a newline; "-" for none
};

void PrintTo(const reader_row& row, std::ostream* os) { *os << row.name; }

class line_reader_rows : public ::testing::TestWithParam<reader_row> {};

TEST_P(line_reader_rows, yields_lines_and_one_report_per_long_line)
{
    const auto& row = GetParam();
    line_reader reader(8);
    std::vector<std::string> seen;
    for (const auto& piece : row.pieces)
        for (const auto& item : reader.feed(piece))
            seen.push_back(item.too_long ? "!" : item.line);
    EXPECT_EQ(seen, row.lines);
    EXPECT_EQ(reader.buffered(), row.left_buffered);
    const auto last = reader.finish();
    EXPECT_EQ(last ? last->line : "-", row.at_end);
    EXPECT_FALSE(last && last->too_long);
    EXPECT_EQ(reader.buffered(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    table, line_reader_rows,
    ::testing::Values(reader_row{"one_line", {"abc\n"}, {"abc"}, 0, "-"},
                      reader_row{"split_line", {"ab", "c\nde"}, {"abc"}, 2, "de"},
                      reader_row{"two_in_one_piece", {"a\nb\n"}, {"a", "b"}, 0, "-"},
                      reader_row{"empty_line", {"\n"}, {""}, 0, "-"},
                      reader_row{"exactly_at_limit", {"12345678\n"}, {"12345678"}, 0, "-"},
                      reader_row{"at_limit_without_newline", {"1234", "5678"}, {}, 8, "12345678"},
                      reader_row{"over_limit_then_good", {"123456789\nok\n"}, {"!", "ok"}, 0, "-"},
                      reader_row{"endless_line_reported_once", {"12345", "67890", "abcdef", "ghij"}, {"!"}, 0, "-"},
                      reader_row{"endless_line_then_ends", {"1234567890", "xyz", "\nnext\n"}, {"!", "next"}, 0, "-"},
                      reader_row{"good_then_over_limit_at_end", {"ok\n123456789"}, {"ok", "!"}, 0, "-"}));

}  // namespace
}  // namespace relay
