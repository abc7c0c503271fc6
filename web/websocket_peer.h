#pragma once
// One WebSocket on a socket handed over by the HTTP server after the
// handshake, framed by wslay and driven by the loop: text messages in,
// text messages out. Bounded both ways: a message longer than the cap
// closes it (1009), and a peer that lets more than the cap of ours go
// unread (replies, events or the pongs to its pings) is dropped; a peer silent through two pings is closed as gone.
//
// The owner hears it through the on_* callbacks, which may close it but
// must not destroy it: it is still on the stack below them.

#include "loop/io_loop.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

struct wslay_event_context;

namespace relay::web {

constexpr std::size_t max_message_bytes = 2048;
constexpr std::size_t max_unsent_bytes = 64 * 1024;
// Messages left unread, each its own allocation however short (an empty
// ping's pong).
constexpr std::size_t max_unsent_messages = 1024;
// Read from one peer in one turn of the loop, so that a flood cannot hold
// the loop (and the boards' ticks) for long.
constexpr std::size_t read_budget_per_turn = 16 * 1024;
constexpr std::chrono::seconds ping_period{20};
// After our close frame, what the peer still sends is read and dropped for
// at most this long, so that the close frame reaches it rather than a reset.
constexpr std::chrono::seconds close_linger{2};

class websocket_peer {
public:
    // fd: the upgraded connection, not closed here (its owner does);
    // already_read: bytes read past the handshake.
    websocket_peer(io_loop& loop, int fd, const std::string& already_read);
    ~websocket_peer();
    websocket_peer(const websocket_peer&) = delete;
    websocket_peer& operator=(const websocket_peer&) = delete;

    // False once it is closing or would hold too much unsent.
    bool send_text(const std::string& text);
    // Sends a close frame, then ends once it is written.
    void close(std::uint16_t code, const std::string& reason);
    bool is_open() const { return !ended; }

    std::function<void(const std::string& text)> on_message;
    // The connection is over; the descriptor may now be let go.
    std::function<void()> on_ended;

private:
    static long on_recv(wslay_event_context* ctx, std::uint8_t* buf, std::size_t len, int flags, void* self);
    static long on_send(wslay_event_context* ctx, const std::uint8_t* data, std::size_t len, int flags, void* self);
    static void on_frame_start(wslay_event_context* ctx, const void* arg, void* self);

    // Whether more bytes queued would leave too much unread by the peer.
    bool holds_too_much(std::size_t more) const;
    void readable();
    void writable();
    void flush();
    void ping();
    void end();
    void linger();
    void drain();

    io_loop& loop;
    int fd;
    std::string pending_in;
    wslay_event_context* ctx = nullptr;
    fd_watch reading;
    fd_watch writing;
    loop_timer pinger;
    loop_timer lingering;
    std::size_t read_this_turn = 0;
    bool heard_since_ping = true;
    bool ended = false;
    bool draining = false;
    // Inside wslay_event_recv: replies wait for the flush that follows it.
    bool receiving = false;
    // Work posted for this peer runs only while it lives.
    std::shared_ptr<bool> alive_token = std::make_shared<bool>(true);
};

}  // namespace relay::web
