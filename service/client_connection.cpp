#include "service/client_connection.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace relay {
namespace {

// Read per wake-up, so that one client pouring bytes in cannot hold the
// thread (and its ticks) for long.
constexpr std::size_t read_chunk_bytes = 16 * 1024;

}  // namespace

client_connection::client_connection(io_loop& loop, int fd) : fd(fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    readable = fd_watch(loop, fd, io_loop::direction::read, [this] { read_some(); });
    writable = fd_watch(loop, fd, io_loop::direction::write, [this] { write_some(); });
    writable.set_enabled(false);
}

client_connection::~client_connection() { shut(); }

bool client_connection::write(const std::string& bytes)
{
    if (fd < 0 || broken)
        return false;
    pending += bytes;
    while (!pending.empty()) {
        const auto n =
            ::send(fd, pending.data(), static_cast<std::size_t>(pending.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            pending.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            broken = true;
            pending.clear();
        }
    }
    writable.set_enabled(!pending.empty());
    return !broken;
}

bool client_connection::is_peer_gone() const
{
    if (fd < 0 || broken)
        return true;
    // A peer that only shut its writing side leaves POLLRDHUP here; one that
    // closed or shut both ways leaves POLLHUP.
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

void client_connection::close_when_written()
{
    closing = true;
    if (fd < 0)
        return;
    if (pending.empty() || broken || is_peer_gone())
        end();
}

void client_connection::abort() { shut(); }

void client_connection::read_some()
{
    char buffer[read_chunk_bytes];
    const auto n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
        // Nothing of this object is touched after the callback, which may
        // have aborted it.
        if (on_received)
            on_received(std::string(buffer, static_cast<std::size_t>(n)));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // At the end of input the descriptor stays readable for good.
    readable.set_enabled(false);
    input_ended = true;
    if (n == 0 && !is_peer_gone()) {
        if (on_input_finished)
            on_input_finished();
        return;
    }
    end();
}

void client_connection::write_some()
{
    if (!write({}) || (closing && pending.empty()))
        end();
}

void client_connection::end()
{
    if (fd < 0)
        return;
    shut();
    if (on_finished)
        on_finished();
}

void client_connection::shut()
{
    if (fd < 0)
        return;
    // The watches go before the descriptor they watch.
    readable.reset();
    writable.reset();
    ::close(fd);
    fd = -1;
    pending.clear();
}

}  // namespace relay
