#pragma once
// The lines between a client and a board's owner on its control socket, as
// the client sees them: the requests it writes, and the owner's replies and
// watch events read back into typed values. Pure: any line an owner might
// send, or garbage in its place, can be tried in memory.

#include "core/board_core.h"
#include "core/relay_state.h"
#include "protocol/command_kind.h"
#include "protocol/reply_code.h"
#include "service/replies.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace relay {

// Longer than anything an owner sends; a longer line is skipped unread.
constexpr std::size_t max_owner_line_bytes = 4096;

// {"event":"state",...}
struct owner_state_event {
    relay_states relays = all_unknown;
    link_condition link = link_condition::lost;
};

// {"ok":...}: the reply to a request, or a refusal of the connection itself
// (one id-less line before the owner hangs up, as the 33rd client gets).
struct owner_reply {
    std::string id;  // as compact JSON text, as the request carried it; empty for none
    bool ok = false;
    // When !ok: the owner's code (a word this build does not know reads as
    // port, as relayctl reads it) and its reason, fit to show.
    reply_code code = reply_code::port;
    std::string error;
    // The owner's port and address, on an ok reply.
    std::optional<board_facts> facts;
};

// Nothing for a line that is neither: not JSON, an event of another kind,
// fields of the wrong type. A relay word it does not know reads as unknown.
using owner_line = std::variant<std::monostate, owner_state_event, owner_reply>;

owner_line read_owner_line(std::string_view line);

// {"cmd":"on","relay":2,"id":7}: relay only for the kinds that take one;
// id_json is the id as JSON text, none when empty.
std::string request_line(command_kind kind, int relay, const std::string& id_json);

}  // namespace relay
