#include "loop/epoll_loop.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace relay {
namespace {

// Keys of the loop's own descriptors; a watched descriptor's key counts up
// from first_watch_key.
constexpr std::uint64_t timer_key = 1;
constexpr std::uint64_t wake_key = 2;
constexpr std::uint64_t first_watch_key = 16;

constexpr int events_per_turn = 64;

int checked(int fd, const char* what)
{
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), what);
    return fd;
}

void add_own(int epoll_fd, int fd, std::uint64_t key)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = key;
    if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0)
        throw std::system_error(errno, std::generic_category(), "epoll_ctl");
}

timespec as_timespec(std::chrono::steady_clock::time_point when)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec t{};
    t.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    t.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return t;
}

}  // namespace

epoll_loop::epoll_loop()
{
    epoll_fd = checked(::epoll_create1(EPOLL_CLOEXEC), "epoll_create1");
    try {
        timer_fd = checked(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), "timerfd_create");
        wake_fd = checked(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd");
        add_own(epoll_fd, timer_fd, timer_key);
        add_own(epoll_fd, wake_fd, wake_key);
    } catch (...) {
        for (int fd : {wake_fd, timer_fd, epoll_fd})
            if (fd >= 0)
                ::close(fd);
        throw;
    }
}

epoll_loop::~epoll_loop()
{
    ::close(wake_fd);
    ::close(timer_fd);
    ::close(epoll_fd);
}

io_loop::watch_id epoll_loop::add_watch(int fd, direction way, handler on_ready)
{
    auto& reg = registrations[fd];
    if (reg.key == 0) {
        reg.key = first_watch_key + next_id++;
        fd_of_key[reg.key] = fd;
    }
    watch_id& slot = way == direction::read ? reg.reader : reg.writer;
    if (slot != 0)
        throw std::logic_error("a descriptor is watched once a direction");
    const auto id = next_id++;
    watches[id] = watch{fd, way, std::move(on_ready), true};
    slot = id;
    update_registration(fd);
    return id;
}

void epoll_loop::enable_watch(watch_id id, bool enabled)
{
    const auto it = watches.find(id);
    if (it == watches.end() || it->second.enabled == enabled)
        return;
    it->second.enabled = enabled;
    update_registration(it->second.fd);
}

void epoll_loop::remove_watch(watch_id id)
{
    const auto it = watches.find(id);
    if (it == watches.end())
        return;
    const int fd = it->second.fd;
    auto& reg = registrations[fd];
    (it->second.way == direction::read ? reg.reader : reg.writer) = 0;
    watches.erase(it);
    update_registration(fd);
}

void epoll_loop::update_registration(int fd)
{
    auto it = registrations.find(fd);
    if (it == registrations.end())
        return;
    auto& reg = it->second;
    const auto wants = [this](watch_id id) {
        const auto w = watches.find(id);
        return w != watches.end() && w->second.enabled;
    };
    std::uint32_t events = 0;
    if (wants(reg.reader))
        events |= EPOLLIN;
    if (wants(reg.writer))
        events |= EPOLLOUT;
    if (events != reg.events)
        tell_kernel(fd, reg, events);
    if (reg.reader == 0 && reg.writer == 0) {
        fd_of_key.erase(reg.key);
        registrations.erase(it);
    }
}

void epoll_loop::tell_kernel(int fd, registration& reg, std::uint32_t events)
{
    // The kernel reports a hang-up even to a descriptor that asks for
    // nothing, so one that asks for nothing leaves the set: otherwise every
    // turn would find it again. It may be closed already, which took it out.
    if (events == 0) {
        ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
    } else {
        epoll_event event{};
        event.events = events;
        event.data.u64 = reg.key;
        const int op = reg.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        // A descriptor closed under its watch fails a change quietly.
        if (::epoll_ctl(epoll_fd, op, fd, &event) != 0 && op == EPOLL_CTL_ADD)
            throw std::system_error(errno, std::generic_category(), "epoll_ctl");
    }
    reg.events = events;
}

io_loop::timer_id epoll_loop::add_timer(std::chrono::nanoseconds after, std::chrono::nanoseconds every,
                                        handler on_expiry)
{
    const auto id = next_id++;
    const auto due = clock::now() + after;
    timers[id] = timer{due, every, std::move(on_expiry)};
    schedule.emplace(due, id);
    arm_timerfd();
    return id;
}

void epoll_loop::remove_timer(timer_id id)
{
    const auto it = timers.find(id);
    if (it == timers.end())
        return;
    const auto [first, last] = schedule.equal_range(it->second.due);
    for (auto s = first; s != last; ++s) {
        if (s->second == id) {
            schedule.erase(s);
            break;
        }
    }
    timers.erase(it);
    // An earlier expiry left armed only costs a wake-up that finds nothing.
}

void epoll_loop::arm_timerfd()
{
    if (schedule.empty() || schedule.begin()->first >= armed_for)
        return;
    armed_for = schedule.begin()->first;
    itimerspec when{};
    when.it_value = as_timespec(armed_for);
    // Zero would disarm it: the clock's very start means "now".
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
        when.it_value.tv_nsec = 1;
    ::timerfd_settime(timer_fd, TFD_TIMER_ABSTIME, &when, nullptr);
}

void epoll_loop::fire_timers()
{
    std::uint64_t expirations = 0;
    while (::read(timer_fd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
    armed_for = clock::time_point::max();
    const auto now = clock::now();
    // Only those due now: a timer that a handler starts again for now
    // waits for the next turn, so that no handler can hold the loop.
    std::vector<timer_id> due;
    for (auto s = schedule.begin(); s != schedule.end() && s->first <= now;)
        due.push_back(s->second), s = schedule.erase(s);
    for (const auto id : due) {
        auto it = timers.find(id);
        if (it == timers.end())
            continue;
        auto& t = it->second;
        if (t.every > std::chrono::nanoseconds::zero()) {
            // Expiries missed while the loop was held are skipped, not
            // caught up in a burst.
            t.due += t.every;
            if (t.due <= now)
                t.due += t.every * ((now - t.due) / t.every + 1);
            schedule.emplace(t.due, id);
            // Copied: the handler may remove its own timer.
            const auto on_expiry = t.on_expiry;
            on_expiry();
        } else {
            const auto on_expiry = std::move(t.on_expiry);
            timers.erase(it);
            on_expiry();
        }
    }
    arm_timerfd();
}

void epoll_loop::post(handler work)
{
    {
        std::lock_guard<std::mutex> hold(posted_lock);
        posted.push_back(std::move(work));
    }
    const std::uint64_t one = 1;
    while (::write(wake_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void epoll_loop::run_posted()
{
    std::uint64_t count = 0;
    while (::read(wake_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::vector<handler> work;
    {
        std::lock_guard<std::mutex> hold(posted_lock);
        work.swap(posted);
    }
    for (auto& w : work)
        w();
}

void epoll_loop::dispatch(std::uint64_t key, std::uint32_t events)
{
    // Looked up again for each direction: the first handler may remove or
    // replace the watches of this descriptor.
    const auto call = [&](bool write_side) {
        const auto f = fd_of_key.find(key);
        if (f == fd_of_key.end())
            return;
        const auto& reg = registrations[f->second];
        const auto w = watches.find(write_side ? reg.writer : reg.reader);
        if (w == watches.end() || !w->second.enabled)
            return;
        const auto on_ready = w->second.on_ready;
        on_ready();
    };
    // A hang-up or an error is news to whoever reads or writes: the next
    // read or write says which.
    const bool broken = (events & (EPOLLHUP | EPOLLERR)) != 0;
    if ((events & EPOLLIN) || broken)
        call(false);
    if ((events & EPOLLOUT) || broken)
        call(true);
}

int epoll_loop::run_once(std::chrono::milliseconds wait)
{
    epoll_event events[events_per_turn];
    const int count = ::epoll_wait(epoll_fd, events, events_per_turn, static_cast<int>(wait.count()));
    for (int i = 0; i < count; ++i) {
        const auto key = events[i].data.u64;
        if (key == timer_key)
            fire_timers();
        else if (key == wake_key)
            run_posted();
        else
            dispatch(key, events[i].events);
    }
    return count < 0 ? 0 : count;
}

void epoll_loop::run()
{
    while (!quitting)
        run_once(std::chrono::milliseconds(-1));
    quitting = false;
}

}  // namespace relay
