#include "text/shown_text.h"

#include <cstdio>

namespace relay {
namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 character at text[i], or 0 when the
// byte there does not start one (stray continuation, overlong form,
// surrogate, beyond U+10FFFF, or cut short).
std::size_t utf8_length(std::string_view text, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!is_continuation(at(i + k)))
            return 0;
    return length;
}

void add_escaped(std::string& out, unsigned char c)
{
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += hex;
}

}  // namespace

std::string shown_text(std::string_view text, std::size_t max_bytes)
{
    std::string shown;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : utf8_length(text, i);
        if (length == 0)
            length = 1;
        if (i + length > max_bytes)
            break;
        // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
        const bool c1 = c == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && length == 1) || c1) {
            for (std::size_t k = 0; k < length; ++k)
                add_escaped(shown, static_cast<unsigned char>(text[i + k]));
        } else {
            shown.append(text.substr(i, length));
        }
        i += length;
    }
    if (i < text.size())
        shown += "... (" + std::to_string(text.size()) + " bytes)";
    return shown;
}

}  // namespace relay
