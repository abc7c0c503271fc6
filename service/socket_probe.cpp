#include "service/socket_probe.h"

#include "host/port_holders.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay {

socket_probe probe_socket(const std::string& path)
{
    socket_probe probe;
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0)
        return probe;
    probe.via_link = S_ISLNK(info.st_mode);
    // A link whose socket is gone is what a killed owner leaves behind.
    if (probe.via_link && ::stat(path.c_str(), &info) != 0) {
        probe.state = socket_state::stale;
        return probe;
    }
    if (!S_ISSOCK(info.st_mode)) {
        probe.state = socket_state::not_a_socket;
        return probe;
    }
    probe.state = socket_state::stale;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return probe;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return probe;
    // A refusal means the file was left behind by a process that is gone;
    // an answer, or a full backlog, means one is there.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        probe.state = socket_state::live;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
            probe.pid = peer.pid;
    } else if (errno == EAGAIN || errno == EINPROGRESS) {
        probe.state = socket_state::live;
    } else if (errno == EACCES || errno == EPERM) {
        probe.state = socket_state::forbidden;
    }
    ::close(fd);
    return probe;
}

std::string describe_server(const socket_probe& probe)
{
    return describe_server(probe.pid, probe.pid > 0 ? program_of(probe.pid) : std::string());
}

std::string describe_server(int pid, const std::string& program)
{
    if (pid <= 0)
        return "another program";
    return (program.empty() ? std::string("a program") : program) + " (pid " + std::to_string(pid) + ")";
}

}  // namespace relay
