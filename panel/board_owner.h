#pragma once
// The board as another program that owns its port serves it (relayd, or
// another relay panel), for a window that attaches to that owner rather than
// opening the port. The window's logic sees only this: what stands behind it
// (the owner's control socket and a client of it) is the program's choice,
// so the logic stays free of sockets and is stepped by tests with a fake.

#include "core/board_core.h"
#include "core/relay_state.h"
#include "protocol/command_kind.h"

#include <cstdint>
#include <optional>
#include <string>

namespace relay {

// The owner and its board as last heard.
struct owner_report {
    // The owner's watch runs; otherwise it is being looked for every second.
    bool attached = false;
    relay_states relays = all_unknown;  // as the owner's events carry them
    link_condition link = link_condition::lost;
    std::string port;                     // the owner's device; empty while not known
    std::optional<std::uint8_t> address;  // none while not known
    std::string program;                  // "relayd"; empty while not known
    int pid = 0;                          // 0 while not known
    // Why not attached, or why the owner may not be used, in plain words.
    std::string why;
};

class board_owner {
public:
    class listener {
    public:
        // Something in report() may have changed.
        virtual void owner_changed() = 0;
        // A command sent with send() did not happen: the owner refused it,
        // or could not be reached. Told once, in words fit to show.
        virtual void owner_refused(const std::string& words) = 0;

    protected:
        ~listener() = default;
    };

    enum class found {
        none,       // nobody serves the device
        attaching,  // an owner serves it: attached, or about to be
        forbidden,  // an owner serves it on a socket this user may not use; report().why says so
    };

    // Looks for whoever serves device_path; when found, attaches and tells
    // `to` from then on, and the owner is looked for again every second
    // while it is away, until detach().
    virtual found attach(const std::string& device_path, listener* to) = 0;
    // Hangs up; the owner goes on with the board. Commands on their way
    // are not told any more.
    virtual void detach() = 0;
    virtual owner_report report() const = 0;
    // A command for the owner's queue (relay 1 to 4 for on and off).
    virtual void send(command_kind kind, int relay) = 0;

protected:
    ~board_owner() = default;
};

}  // namespace relay
