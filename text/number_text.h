#pragma once
// The numeric text fields (port number, board address) hold free text that
// the operator may type or paste. These helpers read it the way the panel
// always has: a decimal number, rounded to a whole one, halves to even.

#include <cstdint>
#include <optional>
#include <string_view>

namespace relay {

// A plain decimal number with optional sign, fraction and exponent,
// surrounded by optional ASCII spaces or tabs. Anything else ("", "abc",
// "0x10", "1,5", non-ASCII digits) yields nothing. Huge values come back as
// +/- infinity so that "greater than 255" still holds for them.
std::optional<double> parse_decimal(std::string_view text);

// Rounds to the nearest whole number, exact halves to the even neighbour.
double round_half_even(double value);

// The text as a whole number that fits the target width, or nothing when it
// is not a number or out of range.
std::optional<std::int16_t> text_to_int16(std::string_view text);
std::optional<std::int32_t> text_to_int32(std::string_view text);

}  // namespace relay
