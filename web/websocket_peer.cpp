#include "web/websocket_peer.h"

#include <wslay/wslay.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace relay::web {

websocket_peer::websocket_peer(io_loop& loop, int fd, const std::string& already_read)
    : loop(loop), fd(fd), pending_in(already_read), pinger(loop, [this] { ping(); }), lingering(loop, [this] { end(); })
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    wslay_event_callbacks callbacks{};
    callbacks.recv_callback = [](wslay_event_context_ptr c, std::uint8_t* buf, std::size_t len, int flags,
                                 void* self) -> ssize_t { return on_recv(c, buf, len, flags, self); };
    callbacks.send_callback = [](wslay_event_context_ptr c, const std::uint8_t* data, std::size_t len, int flags,
                                 void* self) -> ssize_t { return on_send(c, data, len, flags, self); };
    callbacks.on_frame_recv_start_callback = [](wslay_event_context_ptr c,
                                                const wslay_event_on_frame_recv_start_arg* arg,
                                                void* self) { on_frame_start(c, arg, self); };
    callbacks.on_msg_recv_callback = [](wslay_event_context_ptr, const wslay_event_on_msg_recv_arg* arg, void* self) {
        auto* peer = static_cast<websocket_peer*>(self);
        if (arg->opcode == WSLAY_TEXT_FRAME) {
            if (peer->on_message && !peer->ended)
                peer->on_message(std::string(reinterpret_cast<const char*>(arg->msg), arg->msg_length));
        } else if (arg->opcode == WSLAY_BINARY_FRAME) {
            wslay_event_queue_close(peer->ctx, WSLAY_CODE_UNSUPPORTED_DATA,
                                    reinterpret_cast<const std::uint8_t*>("text only"), 9);
        }
    };
    if (wslay_event_context_server_init(&ctx, &callbacks, this) != 0) {
        ctx = nullptr;
        ended = true;
        return;
    }
    wslay_event_config_set_max_recv_msg_length(ctx, max_message_bytes);
    reading = fd_watch(loop, fd, io_loop::direction::read, [this] { readable(); });
    writing = fd_watch(loop, fd, io_loop::direction::write, [this] { writable(); });
    writing.set_enabled(false);
    pinger.start_every(ping_period);
    // Bytes that came with the handshake are waiting already, with nothing
    // on the socket to wake the watch.
    if (!pending_in.empty())
        loop.post([this, alive = std::weak_ptr<bool>(alive_token)] {
            if (alive.lock())
                readable();
        });
}

websocket_peer::~websocket_peer()
{
    alive_token.reset();
    reading.reset();
    writing.reset();
    pinger.stop();
    lingering.stop();
    if (ctx)
        wslay_event_context_free(ctx);
}

long websocket_peer::on_recv(wslay_event_context* c, std::uint8_t* buf, std::size_t len, int, void* self)
{
    auto* peer = static_cast<websocket_peer*>(self);
    if (peer->ended) {
        wslay_event_set_error(c, WSLAY_ERR_WOULDBLOCK);
        return -1;
    }
    if (!peer->pending_in.empty()) {
        const auto n = std::min(len, peer->pending_in.size());
        std::memcpy(buf, peer->pending_in.data(), n);
        peer->pending_in.erase(0, n);
        return static_cast<long>(n);
    }
    if (peer->read_this_turn >= read_budget_per_turn) {
        wslay_event_set_error(c, WSLAY_ERR_WOULDBLOCK);
        return -1;
    }
    const auto n = ::recv(peer->fd, buf, std::min(len, read_budget_per_turn - peer->read_this_turn), 0);
    if (n > 0) {
        peer->read_this_turn += static_cast<std::size_t>(n);
        return n;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        wslay_event_set_error(c, WSLAY_ERR_WOULDBLOCK);
    else
        wslay_event_set_error(c, WSLAY_ERR_CALLBACK_FAILURE);
    return -1;
}

long websocket_peer::on_send(wslay_event_context* c, const std::uint8_t* data, std::size_t len, int, void* self)
{
    auto* peer = static_cast<websocket_peer*>(self);
    const auto n = ::send(peer->fd, data, len, MSG_NOSIGNAL);
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        wslay_event_set_error(c, WSLAY_ERR_WOULDBLOCK);
    else
        wslay_event_set_error(c, WSLAY_ERR_CALLBACK_FAILURE);
    return -1;
}

void websocket_peer::on_frame_start(wslay_event_context*, const void*, void* self)
{
    static_cast<websocket_peer*>(self)->heard_since_ping = true;
}

void websocket_peer::readable()
{
    if (ended)
        return;
    if (draining) {
        drain();
        return;
    }
    read_this_turn = 0;
    receiving = true;
    const int failed = wslay_event_recv(ctx);
    receiving = false;
    if (failed != 0) {
        end();
        return;
    }
    // Past a close frame (the peer's, or ours for a broken frame) wslay
    // reads no more: what the peer still sends would wake the watch again
    // and again while our close waits to be written.
    if (!wslay_event_want_read(ctx))
        reading.set_enabled(false);
    // wslay answers each ping read with a pong of its own: a peer that
    // sends pings and reads nothing would grow the queue without end.
    if (holds_too_much(0)) {
        end();
        return;
    }
    flush();
}

bool websocket_peer::holds_too_much(std::size_t more) const
{
    return wslay_event_get_queued_msg_length(ctx) + more > max_unsent_bytes ||
           wslay_event_get_queued_msg_count(ctx) >= max_unsent_messages;
}

void websocket_peer::writable()
{
    if (!ended)
        flush();
}

void websocket_peer::flush()
{
    if (ended)
        return;
    if (wslay_event_want_write(ctx) && wslay_event_send(ctx) != 0) {
        end();
        return;
    }
    if (!wslay_event_want_read(ctx) && !wslay_event_want_write(ctx)) {
        linger();
        return;
    }
    writing.set_enabled(wslay_event_want_write(ctx) != 0);
}

bool websocket_peer::send_text(const std::string& text)
{
    if (ended || wslay_event_get_close_sent(ctx))
        return false;
    if (holds_too_much(text.size())) {
        // The peer reads nothing; holding more for it would be memory
        // without end, and a close frame would wait behind the rest.
        end();
        return false;
    }
    wslay_event_msg message{WSLAY_TEXT_FRAME, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    if (wslay_event_queue_msg(ctx, &message) != 0)
        return false;
    // Replies to what the page sent go out together once its messages are
    // read, and a send from inside wslay's reading must not re-enter it.
    // Anything else (a watch event, told to every page at once) is written
    // now: waiting for the write watch would cost each page two epoll
    // changes and a wake-up a message, and a socket with room takes it at
    // once. What does not fit waits for the watch, as flush() arranges.
    if (!receiving)
        flush();
    return !ended;
}

void websocket_peer::close(std::uint16_t code, const std::string& reason)
{
    if (ended)
        return;
    if (!wslay_event_get_close_sent(ctx))
        wslay_event_queue_close(ctx, code, reinterpret_cast<const std::uint8_t*>(reason.data()), reason.size());
    writing.set_enabled(true);
}

void websocket_peer::ping()
{
    if (ended)
        return;
    if (!heard_since_ping) {
        end();
        return;
    }
    heard_since_ping = false;
    wslay_event_msg message{WSLAY_PING, nullptr, 0};
    wslay_event_queue_msg(ctx, &message);
    writing.set_enabled(true);
}

void websocket_peer::linger()
{
    if (draining)
        return;
    draining = true;
    reading.set_enabled(true);
    writing.set_enabled(false);
    pinger.stop();
    ::shutdown(fd, SHUT_WR);
    lingering.start_once(close_linger);
    drain();
}

void websocket_peer::drain()
{
    char scratch[4096];
    for (std::size_t read = 0; read < read_budget_per_turn; read += sizeof scratch) {
        const auto n = ::recv(fd, scratch, sizeof scratch, 0);
        if (n > 0)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        end();
        return;
    }
}

void websocket_peer::end()
{
    if (ended)
        return;
    ended = true;
    reading.set_enabled(false);
    writing.set_enabled(false);
    pinger.stop();
    lingering.stop();
    if (on_ended)
        on_ended();
}

}  // namespace relay::web
