#include "serial/termios_device.h"

#include "serial/device_presence.h"
#include "serial/open_failure.h"
#include "serial/port_lock.h"


#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace relay {
namespace {

// Reads that find nothing in a row, with no byte between, before the device
// counts as gone: a hung-up terminal reads as empty for ever, and a
// discard that overtakes a readiness report reads empty once.
constexpr int empty_reads_tolerated = 8;

open_failure kind_of(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return open_failure::missing;
    case EACCES:
    case EPERM:
    case EBUSY:
        return open_failure::refused;
    default:
        return open_failure::other;
    }
}

// 9600 baud, 8 data bits, no parity, one stop bit, no flow control, bytes
// as they are. A read waits for one byte, so an empty non-blocking read
// says EAGAIN rather than 0, which is kept for a hung-up line.
bool set_line(int fd)
{
    termios line{};
    if (::tcgetattr(fd, &line) != 0)
        return false;
    ::cfmakeraw(&line);
    ::cfsetispeed(&line, B9600);
    ::cfsetospeed(&line, B9600);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &line) == 0;
}

}  // namespace

termios_device::termios_device(io_loop& loop) : loop(loop) {}

termios_device::~termios_device()
{
    receiver = nullptr;
    close();
}

open_result termios_device::open(const std::string& device_path)
{
    if (is_open())
        return describe_open_failure(device_path, open_failure::already_open);
    if (::access(device_path.c_str(), F_OK) != 0 && errno == ENOENT)
        return describe_open_failure(device_path, open_failure::missing);

    auto held = std::make_unique<port_lock>(device_path);
    if (!held->try_lock())
        return describe_open_failure(device_path, open_failure::refused);

    const int opened = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0)
        return describe_open_failure(device_path, kind_of(errno), std::strerror(errno));
    // Others who open it after us are refused, unless they are root.
    ::ioctl(opened, TIOCEXCL);
    if (!set_line(opened)) {
        const std::string why = std::strerror(errno);
        ::close(opened);
        return describe_open_failure(device_path, open_failure::other, "it is not a serial port (" + why + ")");
    }
    fd = opened;
    lock = std::move(held);
    opened_path = device_path;
    start = end = 0;
    unsent.clear();
    empty_reads = 0;
    reading = fd_watch(loop, fd, io_loop::direction::read, [this] { readable(); });
    writing = fd_watch(loop, fd, io_loop::direction::write, [this] { writable(); });
    writing.set_enabled(false);
    return open_result::success();
}

void termios_device::close()
{
    reading.reset();
    writing.reset();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    lock.reset();
    start = end = 0;
    unsent.clear();
}

void termios_device::discard_input()
{
    if (!is_open())
        return;
    ::tcflush(fd, TCIFLUSH);
    start = end = 0;
    empty_reads = 0;
}

bool termios_device::write(const frame& bytes)
{
    if (!is_open())
        return false;
    const char* data = reinterpret_cast<const char*>(bytes.data());
    std::size_t left = bytes.size();
    // Bytes still waiting from an earlier frame go first.
    if (unsent.empty()) {
        ssize_t written;
        do {
            written = ::write(fd, data, left);
        } while (written < 0 && errno == EINTR);
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const std::string error = std::strerror(errno);
            lose_link(device_gone_reason(fd, opened_path).value_or(error));
            return false;
        }
        if (written > 0) {
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    if (left > 0) {
        unsent.append(data, left);
        writing.set_enabled(true);
    }
    return true;
}

void termios_device::writable()
{
    ssize_t written;
    do {
        written = ::write(fd, unsent.data(), unsent.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        const std::string error = std::strerror(errno);
        lose_link(device_gone_reason(fd, opened_path).value_or(error));
        return;
    }
    if (written > 0)
        unsent.erase(0, static_cast<std::size_t>(written));
    if (unsent.empty())
        writing.set_enabled(false);
}

void termios_device::readable()
{
    if (start == end)
        start = end = 0;
    if (end == received.size()) {
        // Never taken: noise with no whole frame in it. The newest bytes
        // are the ones that may still start one.
        std::copy(received.begin() + static_cast<std::ptrdiff_t>(start), received.end(), received.begin());
        end -= start;
        start = 0;
        if (end == received.size())
            start = end = 0;
    }
    ssize_t got;
    do {
        got = ::read(fd, received.data() + end, received.size() - end);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        end += static_cast<std::size_t>(got);
        empty_reads = 0;
        if (receiver)
            receiver->bytes_received();
        return;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    const std::string error = got < 0 ? std::strerror(errno) : "the line was hung up";
    if (const auto gone = device_gone_reason(fd, opened_path)) {
        lose_link(*gone);
        return;
    }
    if (++empty_reads > empty_reads_tolerated)
        lose_link(got < 0 ? error : "the device keeps reporting input that it never delivers");
}

int termios_device::read_byte()
{
    if (start == end)
        return -1;
    return received[start++];
}

std::size_t termios_device::read_bytes(std::uint8_t* into, std::size_t count)
{
    const std::size_t n = std::min(count, end - start);
    std::copy_n(received.begin() + static_cast<std::ptrdiff_t>(start), n, into);
    start += n;
    return n;
}

void termios_device::lose_link(const std::string& why)
{
    const auto reason = "The port " + opened_path + " stopped working: " + why + ".";
    close();
    if (receiver)
        receiver->link_lost(reason);
}

}  // namespace relay
