#include "panel/board_address.h"
#include "text/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <ostream>
#include <string>

namespace relay {
namespace {

// How each field reads a text: the port as a 16-bit number, the address as
// the byte a frame carries.
struct field_case {
    std::string text;
    std::optional<std::int16_t> port_number;
    std::optional<std::uint8_t> address;
};

std::ostream& operator<<(std::ostream& os, const field_case& c) { return os << '"' << c.text << '"'; }

class field_text_test : public ::testing::TestWithParam<field_case> {};

TEST_P(field_text_test, reads_the_text_as_each_field_does)
{
    const auto& c = GetParam();
    EXPECT_EQ(text_to_int16(c.text), c.port_number);
    EXPECT_EQ(address_from_text(c.text), c.address);
}

INSTANTIATE_TEST_SUITE_P(
    operator_input, field_text_test,
    ::testing::Values(field_case{"", std::nullopt, std::nullopt}, field_case{" ", std::nullopt, std::nullopt},
                      field_case{"abc", std::nullopt, std::nullopt}, field_case{"-1", -1, std::nullopt},
                      field_case{"1.5", 2, 2}, field_case{"2.5", 2, 2}, field_case{"0.5", 0, 0},
                      field_case{"-0.5", 0, std::nullopt}, field_case{"255", 255, 255},
                      field_case{"255.5", 256, std::nullopt}, field_case{"256", 256, std::nullopt},
                      field_case{"1e3", 1000, std::nullopt}, field_case{"1E1", 10, 10},
                      field_case{"99999", std::nullopt, std::nullopt}, field_case{"32767", 32767, std::nullopt},
                      field_case{"32767.5", std::nullopt, std::nullopt}, field_case{"-32768", -32768, std::nullopt},
                      field_case{"0x10", std::nullopt, std::nullopt}, field_case{" 7 ", 7, 7},
                      field_case{"+3", 3, 3}, field_case{"3.", 3, 3}, field_case{".5", 0, 0},
                      field_case{"1,5", std::nullopt, std::nullopt}, field_case{"1e", std::nullopt, std::nullopt},
                      field_case{"inf", std::nullopt, std::nullopt}, field_case{"nan", std::nullopt, std::nullopt},
                      field_case{"\xd9\xa3", std::nullopt, std::nullopt},          // Arabic-Indic three
                      field_case{"\xef\xbc\x93", std::nullopt, std::nullopt},      // fullwidth three
                      field_case{"1 2", std::nullopt, std::nullopt}, field_case{"--1", std::nullopt, std::nullopt}));

TEST(parse_decimal, a_ten_thousand_digit_paste_is_a_huge_number)
{
    const auto value = parse_decimal(std::string(10000, '9'));
    ASSERT_TRUE(value);
    EXPECT_GT(*value, 255.0);
    EXPECT_FALSE(text_to_int16(std::string(10000, '9')));
    EXPECT_FALSE(address_from_text(std::string(10000, '9')));
}

TEST(parse_decimal, exponents_beyond_double_saturate_or_vanish)
{
    EXPECT_EQ(parse_decimal("1e999"), std::optional<double>(INFINITY));
    EXPECT_EQ(parse_decimal("-1e999"), std::optional<double>(-INFINITY));
    EXPECT_EQ(parse_decimal("1e-999"), std::optional<double>(0.0));
}

TEST(round_half_even, halves_go_to_the_even_neighbour)
{
    EXPECT_EQ(round_half_even(0.5), 0.0);
    EXPECT_EQ(round_half_even(1.5), 2.0);
    EXPECT_EQ(round_half_even(2.5), 2.0);
    EXPECT_EQ(round_half_even(-1.5), -2.0);
    EXPECT_EQ(round_half_even(-2.5), -2.0);
    EXPECT_EQ(round_half_even(2.4999), 2.0);
    EXPECT_EQ(round_half_even(2.5001), 3.0);
}

}  // namespace
}  // namespace relay
