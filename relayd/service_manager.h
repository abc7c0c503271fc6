#pragma once
// What systemd hears from relayd under Type=notify: READY=1 once every
// board's socket is served, a STATUS= line whenever a board's link changes,
// and WATCHDOG=1 at half the WatchdogSec= the unit asks for. The pings come
// from the event loop's own timer, so a loop that hangs stops pinging and
// systemd restarts the daemon. Outside systemd every call does nothing.

#include "loop/io_loop.h"

#include <chrono>
#include <string>

namespace relay::relayd {

class service_manager {
public:
    explicit service_manager(io_loop& loop);

    void ready(const std::string& status);
    void status(const std::string& status);
    void stopping(const std::string& status);

    // Zero when systemd expects no pings.
    std::chrono::microseconds ping_interval() const { return ping_interval_; }

private:
    void send(const std::string& state);

    std::chrono::microseconds ping_interval_{0};
    loop_timer pings;
};

}  // namespace relay::relayd
