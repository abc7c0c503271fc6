#include "protocol/reply_code.h"

namespace relay {

std::optional<reply_code> parse_reply_code_word(std::string_view word)
{
    for (const auto& row : reply_codes)
        if (word == row.word)
            return row.code;
    return std::nullopt;
}

}  // namespace relay
