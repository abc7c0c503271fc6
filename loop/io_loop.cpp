#include "loop/io_loop.h"

#include <utility>

namespace relay {

fd_watch::fd_watch(io_loop& loop, int fd, io_loop::direction way, io_loop::handler on_ready)
    : loop(&loop), id(loop.add_watch(fd, way, std::move(on_ready))), enabled(true)
{
}

fd_watch::fd_watch(fd_watch&& other) noexcept
    : loop(std::exchange(other.loop, nullptr)), id(std::exchange(other.id, 0)),
      enabled(std::exchange(other.enabled, false))
{
}

fd_watch& fd_watch::operator=(fd_watch&& other) noexcept
{
    if (this != &other) {
        reset();
        loop = std::exchange(other.loop, nullptr);
        id = std::exchange(other.id, 0);
        enabled = std::exchange(other.enabled, false);
    }
    return *this;
}

void fd_watch::set_enabled(bool on)
{
    if (!loop || on == enabled)
        return;
    enabled = on;
    loop->enable_watch(id, on);
}

void fd_watch::reset()
{
    if (loop)
        loop->remove_watch(id);
    loop = nullptr;
    id = 0;
    enabled = false;
}

void loop_timer::start_once(std::chrono::nanoseconds after)
{
    stop();
    id = loop.add_timer(after, std::chrono::nanoseconds::zero(), [this] {
        id = 0;
        on_expiry();
    });
}

void loop_timer::start_every(std::chrono::nanoseconds period)
{
    stop();
    id = loop.add_timer(period, period, [this] { on_expiry(); });
}

void loop_timer::stop()
{
    if (id != 0)
        loop.remove_timer(id);
    id = 0;
}

}  // namespace relay
