#pragma once
// What a message on a board's set topic asks for. Only exact words switch a
// relay; everything else is refused with a reason, so that no stray or
// garbled payload can ever switch something it did not name.

#include "protocol/command_kind.h"
#include "protocol/relay_commands.h"

#include <chrono>

#include <optional>
#include <string>

namespace relay::mqtt {

// A pulse or a cycle, which the board's owner times.
struct timed_step {
    command_kind kind = command_kind::pulse;
    int relay = 0;
    std::chrono::milliseconds duration{0};

    bool operator==(const timed_step& other) const
    {
        return kind == other.kind && relay == other.relay && duration == other.duration;
    }
};

// The topic below the board's own level: "relay/2/set", "all/set",
// "relay/2/pulse" or "relay/2/cycle".
struct set_request {
    std::optional<command_tuple> command;
    std::string error;  // plain words when command is empty and not ignored
    // An empty payload: what clearing a retained command as the error
    // message advises looks like to a subscriber. Nothing to do, nothing
    // to say.
    bool ignored = false;
    std::optional<timed_step> timed{};  // a pulse or a cycle, and then no command
};

set_request parse_set_request(const std::string& subtopic, const std::string& payload, bool retained,
                              const relay_statuses& reported);

// A payload fit for a log line and an error message: at most max_bytes of
// it, printable ASCII kept, everything else escaped as \xNN, with the full
// length named when it was cut.
std::string shown_payload(const std::string& payload, std::size_t max_bytes = 64);

}  // namespace relay::mqtt
