#include "relayd/board_socket.h"

#include "service/control_socket.h"

namespace relay::relayd {

struct board_socket::impl {
    explicit impl(panel_controller& board) : socket(board) {}
    control_socket socket;
};

board_socket::board_socket(panel_controller& board) : d(std::make_unique<impl>(board)) {}

board_socket::~board_socket() = default;

serve_result board_socket::listen(const std::string& path, bool system_mode)
{
    const auto r = d->socket.listen(path, system_mode ? socket_access::group : socket_access::owner_only);
    return {r.ok, r.ok, r.reason};
}

void board_socket::close() { d->socket.close(); }

void board_socket::set_audit(audit_function audit) { d->socket.set_audit(std::move(audit)); }

std::string board_socket::usual_path(const std::string& device, bool system_mode)
{
    return system_mode ? system_socket_path(device) : user_socket_path(device);
}

}  // namespace relay::relayd
