#pragma once
// An io_loop on one epoll descriptor, for a program with many ports and
// sockets: a turn costs the same whether it watches ten descriptors or a
// thousand. Every timer shares one timerfd, set to the earliest expiry, so
// timers that fall due together take one wake-up.

#include "loop/io_loop.h"

#include <chrono>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace relay {

class epoll_loop final : public io_loop {
public:
    using clock = std::chrono::steady_clock;

    // Throws std::system_error when the kernel gives no descriptor.
    epoll_loop();
    ~epoll_loop() override;
    epoll_loop(const epoll_loop&) = delete;
    epoll_loop& operator=(const epoll_loop&) = delete;

    watch_id add_watch(int fd, direction way, handler on_ready) override;
    void enable_watch(watch_id id, bool enabled) override;
    void remove_watch(watch_id id) override;
    timer_id add_timer(std::chrono::nanoseconds after, std::chrono::nanoseconds every, handler on_expiry) override;
    void remove_timer(timer_id id) override;
    void post(handler work) override;

    // Turns until quit(); returns at once when quit() came first.
    void run();
    // One turn: waits up to `wait` (negative: for ever) for something to
    // happen, and handles all that did.
    // Returns how many descriptors had news.
    int run_once(std::chrono::milliseconds wait);
    // From the loop's thread; from another, post it.
    void quit() { quitting = true; }

    std::size_t watch_count() const { return watches.size(); }
    std::size_t timer_count() const { return timers.size(); }

private:
    struct watch {
        int fd = -1;
        direction way = direction::read;
        handler on_ready;
        bool enabled = true;
    };
    // One epoll registration per descriptor, for both directions.
    struct registration {
        watch_id reader = 0;
        watch_id writer = 0;
        std::uint32_t events = 0;  // as registered with the kernel
        std::uint64_t key = 0;     // what the kernel hands back
    };
    struct timer {
        clock::time_point due;
        std::chrono::nanoseconds every{};
        handler on_expiry;
    };

    void update_registration(int fd);
    void tell_kernel(int fd, registration& reg, std::uint32_t events);
    void fire_timers();
    void arm_timerfd();
    void run_posted();
    void dispatch(std::uint64_t key, std::uint32_t events);

    int epoll_fd = -1;
    int timer_fd = -1;
    int wake_fd = -1;
    bool quitting = false;
    std::uint64_t next_id = 1;
    std::unordered_map<watch_id, watch> watches;
    std::unordered_map<int, registration> registrations;
    std::unordered_map<std::uint64_t, int> fd_of_key;
    std::unordered_map<timer_id, timer> timers;
    std::multimap<clock::time_point, timer_id> schedule;
    clock::time_point armed_for = clock::time_point::max();

    std::mutex posted_lock;
    std::vector<handler> posted;
};

}  // namespace relay
