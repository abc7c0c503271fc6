#pragma once
// The address field holds free text; every send reads it afresh, so an
// address changed while connected applies to the very next frame.

#include <cstdint>
#include <optional>
#include <string_view>

namespace relay {

// The board address a frame may carry: the text as a decimal number rounded
// to a whole one (halves to even), 0 to 255. Empty, non-numeric and negative
// text yields nothing, and so does text above 255, which the address field
// never keeps.
std::optional<std::uint8_t> address_from_text(std::string_view text);

}  // namespace relay
