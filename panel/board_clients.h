#pragma once
// What programs other than the window (socket clients, MQTT) see of the
// board behind a panel controller. Their commands wait in a queue of their
// own and go out one per tick when the window's mailbox is empty; what they
// learn of the relays comes only from the board's status frames.

#include "protocol/relay_commands.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace relay {

// Names one queued command, so that its sender can match the outcome.
using client_ticket = std::uint64_t;

// Client commands that may wait at once; the next is refused as busy.
constexpr std::size_t client_queue_capacity = 64;

enum class link_condition {
    answering,  // a valid status frame within the watchdog's ticks
    silent,     // the port is open but the board gives no valid answer
    lost,       // no open port: not connected, or the port went away
};

const char* link_word(link_condition condition);

class board_observer {
public:
    // The command went out on the line on this tick.
    virtual void client_command_sent(client_ticket ticket) = 0;
    // The command will never be sent: the port went away or was closed.
    virtual void client_command_dropped(client_ticket ticket, const std::string& why) = 0;
    // A valid status frame arrived; `reported` is what the indicators now
    // show (0 for a relay still unknown).
    virtual void status_frame_accepted(const relay_statuses& reported) = 0;
    // The link changed between answering, silent and lost. `reported`
    // is what the indicators now show.
    virtual void link_changed(link_condition now, const relay_statuses& reported) = 0;
    // The board stayed silent while its port looked healthy, so the port was
    // closed and opened again; `times` counts the reopenings in this
    // silence, from 1. The link stays "silent" throughout: only a log has
    // anything to say about it.
    virtual void silent_port_reopened(int times) { static_cast<void>(times); }
    // The window's own command (its mailbox) went out on the line on this
    // tick; only the audit of who switched what listens.
    virtual void window_command_sent(const command_tuple&) {}

protected:
    ~board_observer() = default;
};

}  // namespace relay
