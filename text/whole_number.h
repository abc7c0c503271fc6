#pragma once
// A value on a command line or in a configuration file: only plain digits
// count. "+1", "1.0", " 1" and "0x1" are all refused, so that a typo never
// becomes an address nobody meant.

#include <optional>
#include <string>

namespace relay {

inline std::optional<long> whole_number(const std::string& text, long max)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    long value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9')
            return std::nullopt;
        value = value * 10 + (ch - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

}  // namespace relay
