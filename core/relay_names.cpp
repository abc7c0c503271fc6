#include "core/relay_names.h"

#include "text/number_text.h"
#include "text/shown_text.h"
#include "text/utf8.h"

namespace relay {

bool has_names(const relay_names& names)
{
    for (const auto& name : names)
        if (!name.empty())
            return true;
    return false;
}

std::optional<int> resolve_relay(const relay_names& names, std::string_view text)
{
    if (text.size() == 1 && is_relay_index(text[0] - '0'))
        return text[0] - '0';
    if (text.empty())
        return std::nullopt;
    for (int relay = 1; relay <= relay_count; ++relay)
        if (names[static_cast<std::size_t>(relay - 1)] == text)
            return relay;
    return std::nullopt;
}

std::string relay_name_error(const relay_names& names, int relay, std::string_view text)
{
    const std::string quoted = "'" + shown_text(text, max_relay_name_bytes) + "'";
    if (text.empty())
        return "a relay's name cannot be empty";
    if (text.size() > max_relay_name_bytes)
        return "the name " + quoted + " is longer than " + std::to_string(max_relay_name_bytes) + " bytes";
    if (shown_text(text, max_relay_name_bytes) != text || !is_valid_utf8(text))
        return "the name " + quoted + " holds bytes that are not printable text";
    if (parse_decimal(text))
        return "the name " + quoted + " is a number: it would be read as a relay number";
    for (int other = 1; other <= relay_count; ++other)
        if (other != relay && names[static_cast<std::size_t>(other - 1)] == text)
            return "the name " + quoted + " is already relay " + std::to_string(other) + "'s";
    return {};
}

std::string unknown_relay_words(const relay_names& names, std::string_view text)
{
    std::string listed = "1 to " + std::to_string(relay_count);
    for (int relay = 1; relay <= relay_count; ++relay) {
        const auto& name = names[static_cast<std::size_t>(relay - 1)];
        if (!name.empty())
            listed += ", " + name + " (" + std::to_string(relay) + ")";
    }
    return "no relay is named '" + shown_text(text, max_relay_name_bytes) + "': the relays are " + listed;
}

}  // namespace relay
