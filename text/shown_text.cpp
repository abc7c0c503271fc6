#include "text/shown_text.h"

#include "text/utf8.h"

#include <cstdio>

namespace relay {
namespace {

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
        std::size_t length = utf8_length(text, i);
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
