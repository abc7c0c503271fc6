#include "serial/open_failure.h"

#include "host/port_holders.h"
#include "text/shown_text.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace relay {

open_result describe_open_failure(const std::string& device_path, open_failure kind, const std::string& detail)
{
    const std::string port = "The port " + shown_text(device_path);
    const auto missing = open_result::failure(port + " does not exist. Is the board's USB adapter plugged in?");
    switch (kind) {
    case open_failure::missing:
        return missing;
    case open_failure::refused: {
        // A busy port and a forbidden one fail alike; access(2) tells them apart.
        struct stat info{};
        if (::stat(device_path.c_str(), &info) != 0)
            return missing;
        if (::access(device_path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            return open_result::failure(port + " cannot be opened: you have no permission to use it. Add your user "
                                               "to the 'dialout' group (sudo usermod -aG dialout $USER), then log "
                                               "out and in again.");
        const auto holders = port_holders(device_path);
        if (holders.empty())
            return open_result::failure(port + " is in use by another program.", 1);
        return open_result::failure(port + " is in use by " + describe_holders(holders) + ".", holders.size());
    }
    case open_failure::already_open:
        return open_result::failure(port + " is already open.");
    case open_failure::other:
        break;
    }
    return open_result::failure(port + " cannot be opened: " + detail + ".");
}

}  // namespace relay
