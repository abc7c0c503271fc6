#include "service/owner_lookup.h"

#include "service/socket_paths.h"

namespace relay {

bool serves_a_board(const socket_probe& probe)
{
    return probe.state == socket_state::live || probe.state == socket_state::forbidden;
}

std::optional<found_owner> find_owner(const std::string& device_path)
{
    for (const auto& path : {user_socket_path(device_path), system_socket_path(device_path)}) {
        const auto probe = probe_socket(path);
        if (serves_a_board(probe))
            return found_owner{path, probe};
    }
    return std::nullopt;
}

}  // namespace relay
