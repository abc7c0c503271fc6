#pragma once
// A second name for an owner's socket: a symbolic link at the usual path of
// its device, for an owner whose socket is named otherwise (relayd's
// `socket = /run/relayd/cabinet.sock`). relayctl looks for the owner of a
// port at the usual path alone, and lists owners by the folder, so every
// owner can be found from the port whatever its socket is called.

#include "service/control_socket.h"

#include <string>

namespace relay {

class socket_alias {
public:
    socket_alias() = default;
    ~socket_alias();
    socket_alias(const socket_alias&) = delete;
    socket_alias& operator=(const socket_alias&) = delete;

    // Links `alias` to `target`, creating the alias's folder as listen()
    // would. Replaces only what a killed owner left there, never a socket a
    // live program answers on. Empty when placed, else why not.
    std::string place(const std::string& alias, const std::string& target, socket_access access);
    // Removes the link, while it still leads to the target.
    void remove();
    bool is_placed() const { return !alias_.empty(); }

private:
    std::string alias_;
    std::string target_;
};

}  // namespace relay
