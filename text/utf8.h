#pragma once
// Well-formed UTF-8, as RFC 3629 has it: no overlong forms, no surrogates,
// nothing beyond U+10FFFF.

#include <cstddef>
#include <string_view>

namespace relay {

// The length of the well-formed character at text[i], or 0 when the byte
// there does not start one (stray continuation, overlong form, surrogate,
// beyond U+10FFFF, or cut short). An ASCII byte is 1.
std::size_t utf8_length(std::string_view text, std::size_t i);

bool is_valid_utf8(std::string_view text);

}  // namespace relay
