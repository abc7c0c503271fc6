#include "serial/device_presence.h"

#ifdef __unix__
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#endif

namespace relay {

std::optional<std::string> device_gone_reason(int fd, const std::string& device_path)
{
#ifdef __unix__
    pollfd probe{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&probe, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready > 0 && (probe.revents & POLLNVAL))
        return std::string("the device is no longer open");
    // A terminal whose far end closed, or whose USB adapter was pulled, is
    // hung up: it reports POLLHUP (with POLLERR) for as long as it stays open.
    if (ready > 0 && (probe.revents & (POLLHUP | POLLERR)))
        return std::string("the device went away");

    struct stat open_device {};
    if (::fstat(fd, &open_device) != 0)
        return std::string("the device is no longer open");
    struct stat node {};
    if (::stat(device_path.c_str(), &node) != 0) {
        if (errno == ENOENT || errno == ENODEV || errno == ENXIO)
            return std::string("the device went away");
        return std::nullopt;
    }
    // The name now leads to another device: the adapter was replugged and
    // the one this descriptor talks to is gone.
    if (S_ISCHR(open_device.st_mode) && node.st_rdev != open_device.st_rdev)
        return std::string("the device went away");
#else
    (void)fd;
    (void)device_path;
#endif
    return std::nullopt;
}

}  // namespace relay
