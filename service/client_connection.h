#pragma once
// One client of a control socket, on the connected socket's own descriptor.
// The end of the peer's input is only news: writing goes on until the owner
// is done, so that a peer that sends its requests and shuts its writing side
// (`echo REQUEST | socat - UNIX-CONNECT:PATH`) still gets its replies.
// Writes never block: what the kernel will not take yet waits here, and
// bytes_to_write() says how far the peer has fallen behind.
//
// The owner holds it and hears it through the on_* callbacks. A callback may
// abort the connection, but must not destroy it: the connection is still on
// the stack below the callback, so the owner destroys it on a later turn.

#include "loop/io_loop.h"


#include <cstddef>
#include <functional>
#include <string>

namespace relay {

class client_connection {
public:
    // Takes the connected socket; it is closed with this object at the latest.
    client_connection(io_loop& loop, int fd);
    ~client_connection();
    client_connection(const client_connection&) = delete;
    client_connection& operator=(const client_connection&) = delete;

    // Queues the bytes and writes what the kernel takes now; false once the
    // peer is gone.
    bool write(const std::string& bytes);
    std::size_t bytes_to_write() const { return pending.size(); }
    bool is_input_ended() const { return input_ended; }
    // The peer closed its reading side too (or entirely): nothing written
    // will reach it.
    bool is_peer_gone() const;
    bool is_open() const { return fd >= 0; }
    // Closes once everything queued is written, or at once when the peer is
    // gone; then calls on_finished.
    void close_when_written();
    // Closes now, dropping what waits; calls nothing.
    void abort();

    std::function<void(const std::string& bytes)> on_received;
    // The peer will send nothing more but may still read.
    std::function<void()> on_input_finished;
    // The descriptor is closed: the peer left, a write failed, or
    // close_when_written() is done.
    std::function<void()> on_finished;

private:
    void read_some();
    void write_some();
    void end();  // closes, then tells
    void shut();

    int fd = -1;
    fd_watch readable;
    fd_watch writable;
    std::string pending;
    bool broken = false;
    bool closing = false;
    bool input_ended = false;
};

}  // namespace relay
