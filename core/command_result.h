#pragma once
// How a command queued with the board core ended, told to whoever queued
// it and to no one else.

#include "protocol/frame.h"
#include "protocol/relay_commands.h"

#include <cstdint>
#include <optional>
#include <string>

namespace relay {

// Names one queued command for its sender.
using command_id = std::uint64_t;

struct command_result {
    enum class end {
        confirmed,  // a status frame shows every relay it switched as asked
        refused,    // the board answered but did not switch
        no_answer,  // no valid status frame before the deadline, or the board fell silent
        port_gone,  // the port went away after the command went out
        not_sent,   // never reached the line: the port went, the owner disconnected, the write failed
        replaced,     // a later command for the same relay took over its pending step
        interlocked,  // refused before anything was sent: it would switch on two relays of one group
    };
    end how = end::not_sent;
    command_tuple command{};
    // What the board last reported after the send, when it reported at all.
    std::optional<relay_statuses> reported;
    // no_answer: it ended at the deadline, not by the board falling silent.
    bool at_deadline = false;
    // not_sent, port_gone, replaced and interlocked: why, in plain words.
    std::string why;

    bool confirmed() const { return how == end::confirmed; }
};

}  // namespace relay
