#pragma once
// The names a board's relays may be given ("pump" for relay 2), so that a
// name stands wherever a relay number does: on a command line, in a socket
// request, in Home Assistant.

#include "protocol/relay_commands.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace relay {

// Relay 1's name first; an empty name is no name.
using relay_names = std::array<std::string, relay_count>;

constexpr std::size_t max_relay_name_bytes = 64;

bool has_names(const relay_names& names);

// The relay a text names: its number ("2") or its name ("pump"), spelt
// exactly; nothing for anything else.
std::optional<int> resolve_relay(const relay_names& names, std::string_view text);

// Why text cannot be relay's name beside the names already given, in plain
// words; empty when it can. A name is printable UTF-8 of at most
// max_relay_name_bytes, does not read as a number (it would be taken for a
// relay number, or for a typo of one) and belongs to one relay only.
std::string relay_name_error(const relay_names& names, int relay, std::string_view text);

// "no relay is named 'x': the relays are 1 to 4, pump (2)": for a name that
// resolves to nothing.
std::string unknown_relay_words(const relay_names& names, std::string_view text);

}  // namespace relay
