#pragma once
// One line from a control socket client, read into what it asks for. Pure:
// no socket, no board, so every malformed line can be tried in memory and
// by the fuzzer.

#include "protocol/command_kind.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace relay {

// A longer line is refused without being read as JSON.
constexpr std::size_t max_request_bytes = 1024;

// How long a client waits for the owner's reply at least: the owner's own
// deadline, plus time for a command to wait its turn in the owner's queue
// behind other clients' commands.
constexpr std::chrono::milliseconds owner_reply_wait{10000};
// A pulse or a cycle is answered once its last step is proven: the wait
// above counts from the end of its time.
constexpr std::chrono::milliseconds owner_reply_wait_for(std::chrono::milliseconds duration)
{
    return duration + owner_reply_wait;
}

struct request {
    command_kind kind = command_kind::status;
    int relay = 0;  // 1 to 4 for on, off, toggle, pulse and cycle; 0 for the others
    // "relay" given as text: a relay's name, or its number written as text.
    // Only the owner knows the board's names: relay stays 0 until it has
    // resolved this.
    std::string relay_name;
    // pulse and cycle: "ms", from min_step_duration to max_step_duration.
    std::chrono::milliseconds duration{0};
    // Echoed in the reply so that a client with several requests in flight
    // can match them: the id as compact JSON text, empty when the request
    // carried none.
    std::string id;
};

struct usage_error {
    std::string why;  // plain words for the client
    // The id, when the line was JSON enough to carry one.
    std::string id;
};

using parsed_request = std::variant<request, usage_error>;

// The line without its newline (a trailing carriage return is allowed).
parsed_request parse_request(std::string_view line);

}  // namespace relay
