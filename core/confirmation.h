#pragma once
// The one rule that decides whether the board carried out a command, used
// by every sender alike: the owner of a port for its clients and the
// window, and relayctl on a port of its own. Only status frames that come
// after the command went out count; time is the caller's to keep.

#include "protocol/relay_commands.h"

#include <optional>

namespace relay {

// Status frames after the send that may still show the old state before a
// command counts as refused: the answer to the command frame itself may
// predate the switch.
constexpr int frames_before_refusal = 3;

class confirmation {
public:
    enum class verdict { waiting, confirmed, refused };

    explicit confirmation(const command_tuple& sent) : sent(sent) {}

    // A valid status frame that arrived after the command went out.
    verdict frame_after_send(const relay_statuses& reported);

    const command_tuple& command() const { return sent; }
    // What the board last reported since the send, if anything.
    const std::optional<relay_statuses>& last_seen() const { return seen; }

private:
    command_tuple sent;
    std::optional<relay_statuses> seen;
    int refusals = 0;
};

}  // namespace relay
