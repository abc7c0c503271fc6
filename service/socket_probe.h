#pragma once
// Who, if anyone, answers on a control socket's path. The path may be the
// socket itself or a symbolic link to it: an owner whose socket has a name
// of its own also answers at the usual path of its device through a link
// (socket_alias), so that relayctl finds it from the port alone.

#include <string>

namespace relay {

enum class socket_state {
    absent,        // nothing at the path
    stale,         // a socket (or a link to one, or to nothing) no process answers on
    live,          // a process answers
    forbidden,     // this user may not connect: someone's socket, alive or not
    not_a_socket,  // a file, a folder, or a link to one
};

struct socket_probe {
    socket_state state = socket_state::absent;
    int pid = 0;            // the live server's, when the kernel tells it
    bool via_link = false;  // the path is a symbolic link
};

// Connects without blocking and hangs up at once; never waits on the server.
socket_probe probe_socket(const std::string& path);

// "relayd (pid 12)", or "another program" when the pid is not known.
std::string describe_server(const socket_probe& probe);
// The same for a process whose program (program_of) is known already.
std::string describe_server(int pid, const std::string& program);

}  // namespace relay
