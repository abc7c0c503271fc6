#pragma once
// Whoever owns a device and serves it on a control socket, found from the
// device's path alone: relayctl asks that owner rather than the port, and
// the window attaches to it.

#include "service/socket_probe.h"

#include <optional>
#include <string>

namespace relay {

// A socket this user may not connect to counts: its owner holds the port
// all the same, and connecting says why it cannot be used.
bool serves_a_board(const socket_probe& probe);

struct found_owner {
    std::string path;  // where the owner serves the device
    socket_probe probe;
};

// The user's path for the device, then the system's (socket_paths.h); nothing
// when no one answers on either.
std::optional<found_owner> find_owner(const std::string& device_path);

}  // namespace relay
