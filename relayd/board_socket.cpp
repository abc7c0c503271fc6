#include "relayd/board_socket.h"

#include "service/control_socket.h"
#include "service/socket_alias.h"
#include "service/socket_paths.h"
#include "service/socket_probe.h"

namespace relay::relayd {
namespace {

// The group the package makes for the service (relayd.sysusers); its
// members use the system sockets. relayd started by hand as root with
// --system hands its sockets to it too.
constexpr const char* service_group = "relayd";

}  // namespace

struct board_socket::impl {
    impl(io_loop& loop, board_core& board) : socket(loop, board) {}
    control_socket socket;
    socket_alias alias;
};

board_socket::board_socket(io_loop& loop, board_core& board) : d(std::make_unique<impl>(loop, board)) {}

board_socket::~board_socket() = default;

serve_result board_socket::listen(const std::string& path, bool system_mode)
{
    const auto r = system_mode ? d->socket.listen(path, socket_access::group, service_group)
                               : d->socket.listen(path, socket_access::owner_only);
    return {r.ok, r.reason};
}

std::string board_socket::also_answer_at(const std::string& usual, bool system_mode)
{
    return d->alias.place(usual, d->socket.path(), system_mode ? socket_access::group : socket_access::owner_only);
}

void board_socket::close()
{
    d->alias.remove();
    d->socket.close();
}

void board_socket::set_audit(audit_function audit) { d->socket.set_audit(std::move(audit)); }

control_socket& board_socket::served() { return d->socket; }
void board_socket::set_relay_names(const relay_names& names) { d->socket.set_relay_names(names); }

std::string board_socket::usual_path(const std::string& device, bool system_mode)
{
    return system_mode ? system_socket_path(device) : user_socket_path(device);
}

std::string board_socket::server_at(const std::string& path)
{
    const auto probe = probe_socket(path);
    return probe.state == socket_state::live ? describe_server(probe) : std::string();
}

}  // namespace relay::relayd
