#include "panel/board_address.h"

#include "text/number_text.h"

namespace relay {

std::optional<std::uint8_t> address_from_text(std::string_view text)
{
    const auto value = parse_decimal(text);
    if (!value || *value < 0)
        return std::nullopt;
    const double rounded = round_half_even(*value);
    if (rounded > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(rounded);
}

}  // namespace relay
