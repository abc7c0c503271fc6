// A build without the control socket's library: the boards are polled and
// logged, and relayd says at start that they are not shared.

#include "relayd/board_socket.h"

namespace relay::relayd {

struct board_socket::impl {};

board_socket::board_socket(panel_controller&) {}

board_socket::~board_socket() = default;

serve_result board_socket::listen(const std::string&, bool)
{
    return {true, false, "this relayd was built without the control socket (library relay_service)"};
}

void board_socket::close() {}

std::string board_socket::usual_path(const std::string& device, bool) { return device + ".sock"; }

}  // namespace relay::relayd
