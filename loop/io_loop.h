#pragma once
// The event loop a board's owner runs on, reduced to what its parts need:
// a descriptor ready to read or write, a timer, and work handed over from
// another thread. relayd runs them all on one epoll loop (epoll_loop.h);
// the window on Qt's (qt_io_loop.h). Everything is called on the loop's
// own thread, except post().

#include <chrono>
#include <cstdint>
#include <functional>

namespace relay {

class io_loop {
public:
    using handler = std::function<void()>;
    using watch_id = std::uint64_t;
    using timer_id = std::uint64_t;
    enum class direction { read, write };

    virtual ~io_loop() = default;

    // Calls on_ready whenever fd is ready that way while the watch is
    // enabled (it starts enabled). One watch a direction a descriptor; the
    // watch goes before the descriptor is closed. A handler may be called
    // when nothing is ready after all, and must not block.
    virtual watch_id add_watch(int fd, direction way, handler on_ready) = 0;
    virtual void enable_watch(watch_id id, bool enabled) = 0;
    virtual void remove_watch(watch_id id) = 0;

    // Calls on_expiry once `after` from now, then every `every` when that
    // is not zero, each expiry at its place on the clock: a late one does
    // not push the next ones back. Ids are never reused, so removing one
    // that already ran does nothing.
    virtual timer_id add_timer(std::chrono::nanoseconds after, std::chrono::nanoseconds every, handler on_expiry) = 0;
    virtual void remove_timer(timer_id id) = 0;

    // From any thread: work runs on the loop's thread at a later turn, in
    // the order posted.
    virtual void post(handler work) = 0;
};

// A watch removed with its owner.
class fd_watch {
public:
    fd_watch() = default;
    fd_watch(io_loop& loop, int fd, io_loop::direction way, io_loop::handler on_ready);
    ~fd_watch() { reset(); }
    fd_watch(fd_watch&& other) noexcept;
    fd_watch& operator=(fd_watch&& other) noexcept;
    fd_watch(const fd_watch&) = delete;
    fd_watch& operator=(const fd_watch&) = delete;

    void set_enabled(bool enabled);
    bool is_enabled() const { return enabled; }
    bool is_set() const { return loop != nullptr; }
    void reset();

private:
    io_loop* loop = nullptr;
    io_loop::watch_id id = 0;
    bool enabled = false;
};

// A timer that may be started, stopped and started again; stopped with its
// owner. on_expiry may destroy the timer.
class loop_timer {
public:
    loop_timer(io_loop& loop, io_loop::handler on_expiry) : loop(loop), on_expiry(std::move(on_expiry)) {}
    ~loop_timer() { stop(); }
    loop_timer(const loop_timer&) = delete;
    loop_timer& operator=(const loop_timer&) = delete;

    // Restarts the timer when it runs already.
    void start_once(std::chrono::nanoseconds after);
    void start_every(std::chrono::nanoseconds period);
    void stop();
    bool is_active() const { return id != 0; }

private:
    io_loop& loop;
    io_loop::handler on_expiry;
    io_loop::timer_id id = 0;
};

}  // namespace relay
