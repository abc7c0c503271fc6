#pragma once
// The commands every client of the board sends (the window, relayctl, the
// daemon's clients) and how a status frame proves that one was carried out.

#include "protocol/frame.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace relay {

// The four relay status bytes of a status frame; 0 where nothing is known.
using relay_statuses = std::array<std::uint8_t, relay_count>;

constexpr bool is_relay_index(int relay) { return relay >= 1 && relay <= relay_count; }

// Switches relay 1 to 4 and leaves the other three as they are.
command_tuple single_relay(int relay, std::uint8_t action);
// Switches all four relays the same way.
command_tuple all_relays(std::uint8_t action);
// The command that switches a relay to the opposite of its reported status;
// nothing while that status is neither on nor off.
std::optional<command_tuple> toggle_relay(int relay, const relay_statuses& reported);

// True when every relay the command switches reports the state it asked
// for; relays it leaves alone may report anything.
bool confirms(const command_tuple& sent, const relay_statuses& reported);

// "on", "off", or "unknown" for a byte that is neither status.
const char* status_word(std::uint8_t status);

// "switch relay 2 on", "switch all relays off": for messages about a
// command the board did not take.
std::string describe_command(const command_tuple& command);

}  // namespace relay
