#pragma once
// Which device a board's "port =" opens, found as the board would open it,
// so that two spellings of one port (ttyUSB0 and /dev/ttyUSB0, a symlink to
// it, port number 1) are known to be one before either board opens it.

#include "serial/port_catalog.h"

#include <cstdint>
#include <optional>
#include <string>

namespace relay::relayd {

struct port_identity {
    // The device's path with symlinks, "." and ".." resolved; for a port
    // number with no port behind it now, "port N".
    std::string path;
    // The device number, when the path is a character device now.
    std::optional<std::uint64_t> device;
};

// Two boards share a port when their identities share the path or the
// device number.
port_identity identify_port(const std::string& text, const port_catalog& catalog);

}  // namespace relay::relayd
