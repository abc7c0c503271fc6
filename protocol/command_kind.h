#pragma once
// The commands a client asks of a board, one list for every face: the words
// relayctl takes and a control socket's "cmd" values are the same, and so is
// the frame each one puts on the line when it needs nothing from the board.

#include "protocol/relay_commands.h"

#include <optional>
#include <string_view>

namespace relay {

enum class command_kind { status, on, off, toggle, all_on, all_off, watch, pulse, cycle };

// "status", "on", "off", "toggle", "all-on", "all-off", "watch", "pulse" or "cycle".
const char* command_word(command_kind kind);
// The kind a word names, spelt exactly as command_word writes it.
std::optional<command_kind> parse_command_word(std::string_view word);
// "status, on, off, toggle, all-on, all-off, watch, pulse or cycle": for a message that
// lists what may be asked.
const char* command_words_listed();

// on, off, toggle, pulse and cycle name one relay; the others none.
bool takes_relay(command_kind kind);
// pulse and cycle also take how long the relay stays switched.
bool takes_duration(command_kind kind);

// The set-relays tuple of on and off (for relay 1 to 4), all-on and all-off.
// Status and watch send none, toggle's depends on the relay's reported state
// (see toggle_relay), and pulse and cycle are steps the owner times.
std::optional<command_tuple> fixed_command(command_kind kind, int relay = 0);

}  // namespace relay
