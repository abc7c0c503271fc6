#pragma once
// One board's control socket: a Unix socket speaking JSON lines, through
// which scripts, relayctl and other programs share the board with whoever
// owns its port (relayd or a connected panel).

#include "core/board_core.h"
#include "core/command_audit.h"
#include "core/relay_names.h"
#include "loop/io_loop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace relay {

enum class socket_access {
    owner_only,  // the socket file 0600; a folder made for it 0700: a user's own session
    group,       // 0660 for a group; a folder made for it 0750 (0755 when the group cannot be given)
};

struct listen_result {
    bool ok = false;
    std::string reason;  // plain words when !ok
};

class control_socket {
public:
    // Serves the board behind this controller on loop, the thread's own;
    // both must outlive it.
    control_socket(io_loop& loop, board_core& board);
    ~control_socket();
    control_socket(const control_socket&) = delete;
    control_socket& operator=(const control_socket&) = delete;

    // Creates the folder when missing and listens at path. An existing
    // folder is never changed, and refused when others may write to it,
    // unless it is sticky and path is ours or free. A socket file left by a
    // killed process is replaced; one that a live process answers on is not,
    // and the reason names it. With group access the socket, and a folder
    // made for it, go to group_name when that group exists and this process
    // may give it (root, or a member); otherwise they keep its own group.
    // The socket appears at path with its mode and group already set.
    listen_result listen(const std::string& path, socket_access access, const std::string& group_name = {});
    // Stops listening, drops every client and removes the socket file.
    void close();
    bool is_listening() const;
    const std::string& path() const;
    std::size_t client_count() const;
    // Hears one line for each command a client asks for, naming the client
    // by its uid, pid and program (the socket's peer credentials).
    void set_audit(audit_function audit);
    // The board's relay names: a request may name a relay by them, and
    // replies and watch events carry them.
    void set_relay_names(const relay_names& names);

    // A client that reaches the board by another transport (the web page's
    // WebSocket): it hands over whole request lines and hears each reply and
    // watch event through deliver, which returns false once the guest has
    // fallen too far behind or left. A guest counts among the clients, under
    // the same limits; origin names it in the audit. 0 when the socket is
    // full: deliver has then heard the same "busy" a socket client would.
    using guest_id = std::uint64_t;
    using deliver_function = std::function<bool(const std::string& line)>;
    guest_id add_guest(const std::string& origin, deliver_function deliver);
    // One request line, without its newline; ignored for a guest that is gone.
    void guest_says(guest_id guest, const std::string& line);
    void remove_guest(guest_id guest);
    bool has_guest(guest_id guest) const;

private:
    struct impl;
    std::unique_ptr<impl> d;
};

}  // namespace relay
