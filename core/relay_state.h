#pragma once
// A relay as the board last reported it. Only a valid status frame makes a
// relay on or off; everything else (not connected, a silent board, a
// status byte that is neither) leaves it unknown.

#include "protocol/relay_commands.h"

#include <array>
#include <cstdint>

namespace relay {

enum class relay_state : std::uint8_t { unknown, off, on };

// Relay i at element i - 1.
using relay_states = std::array<relay_state, relay_count>;

constexpr relay_states all_unknown{};

relay_state state_of_status(std::uint8_t status);
// The status bytes a frame would carry: status_on, status_off, or 0 for a
// relay not known.
relay_statuses statuses_of(const relay_states& states);

}  // namespace relay
