#include "relayd/service_manager.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace relay::relayd {

service_manager::service_manager(QObject* parent) : QObject(parent)
{
    std::uint64_t watchdog_usec = 0;
    if (sd_watchdog_enabled(0, &watchdog_usec) > 0 && watchdog_usec > 0) {
        ping_interval_ = std::chrono::microseconds{watchdog_usec / 2};
        pings.setTimerType(Qt::PreciseTimer);
        pings.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(ping_interval_));
        connect(&pings, &QTimer::timeout, this, [this] { send("WATCHDOG=1"); });
        pings.start();
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
