#pragma once
// Where the owner of a port serves its socket: /run/relayd/<device>.sock
// for the system service, $XDG_RUNTIME_DIR/relay-panel/<device>.sock
// otherwise, <device> being the device file's name with "/" below /dev
// written as "-" (ttyUSB0; pts-3 for /dev/pts/3). relayctl finds the owner
// of a port the same way.

#include <string>

namespace relay {

std::string socket_name_for(const std::string& device_path);
std::string system_socket_path(const std::string& device_path);
std::string user_socket_path(const std::string& device_path);
// The folders of those paths, where relayctl looks for every owner there is.
std::string system_socket_folder();
std::string user_socket_folder();

}  // namespace relay
