#include "service/socket_paths.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace relay {
namespace {

// The panel may have opened a by-id symlink and relayctl the device it
// points to; both must arrive at the same socket. A relative path is the
// device below the current folder, not the one below /dev that its words
// would otherwise name.
std::string canonical_device(const std::string& device_path)
{
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(device_path, error), error);
    return error ? device_path : canonical.string();
}

}  // namespace

std::string socket_name_for(const std::string& device_path)
{
    std::string name = canonical_device(device_path);
    const std::string dev = "/dev/";
    if (name.rfind(dev, 0) == 0)
        name.erase(0, dev.size());
    while (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    for (auto& ch : name)
        if (ch == '/')
            ch = '-';
    if (name.empty())
        name = "port";
    return name + ".sock";
}

std::string system_socket_folder() { return "/run/relayd"; }

std::string user_socket_folder()
{
    // Without a runtime folder (a bare su or cron), a per-user folder in
    // /tmp stands in; listen() makes it 0700 and refuses one it does not own.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime ? std::string(runtime) + "/relay-panel" : "/tmp/relay-panel-" + std::to_string(::getuid());
}

std::string system_socket_path(const std::string& device_path)
{
    return system_socket_folder() + "/" + socket_name_for(device_path);
}

std::string user_socket_path(const std::string& device_path)
{
    return user_socket_folder() + "/" + socket_name_for(device_path);
}

}  // namespace relay
