#include "relayd/service_manager.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace relay::relayd {

service_manager::service_manager(io_loop& loop) : pings(loop, [this] { send("WATCHDOG=1"); })
{
    std::uint64_t watchdog_usec = 0;
    if (sd_watchdog_enabled(0, &watchdog_usec) > 0 && watchdog_usec > 0) {
        ping_interval_ = std::chrono::microseconds{watchdog_usec / 2};
        pings.start_every(ping_interval_);
    }
}

void service_manager::ready(const std::string& status) { send("READY=1\nSTATUS=" + status); }

void service_manager::status(const std::string& status) { send("STATUS=" + status); }

void service_manager::stopping(const std::string& status)
{
    pings.stop();
    send("STOPPING=1\nSTATUS=" + status);
}

void service_manager::send(const std::string& state) { sd_notify(0, state.c_str()); }

}  // namespace relay::relayd
