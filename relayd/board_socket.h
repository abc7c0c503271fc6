#pragma once
// The board's control socket as relayd serves it: for the system service
// 0660 for the group relayd (when it exists), otherwise 0600 for the user
// alone.

#include "core/command_audit.h"
#include "core/board_core.h"
#include "core/relay_names.h"
#include "loop/io_loop.h"

#include <memory>
#include <string>

namespace relay {
class control_socket;
}

namespace relay::relayd {

struct serve_result {
    bool ok = false;
    std::string reason;  // plain words when !ok
};

class board_socket {
public:
    board_socket(io_loop& loop, board_core& board);
    ~board_socket();
    board_socket(const board_socket&) = delete;
    board_socket& operator=(const board_socket&) = delete;

    serve_result listen(const std::string& path, bool system_mode);
    // A socket named otherwise also answers at the device's usual path,
    // through a link there, so that relayctl finds it from the port. Empty
    // when it does, else why not.
    std::string also_answer_at(const std::string& usual, bool system_mode);
    // Drops the clients and removes the socket file and the link.
    void close();
    // One line per command a client asks for; see command_audit.h.
    void set_audit(audit_function audit);
    // The socket itself, for clients on other transports (its guests).
    control_socket& served();
    // The names the configuration gives the board's relays.
    void set_relay_names(const relay_names& names);

    // Where the owner of this device serves it unless told otherwise.
    static std::string usual_path(const std::string& device, bool system_mode);
    // The program that answers on the socket at path, "relay-panel (pid
    // 12)"; empty when no live program does.
    static std::string server_at(const std::string& path);

private:
    struct impl;
    std::unique_ptr<impl> d;
};

}  // namespace relay::relayd
