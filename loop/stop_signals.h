#pragma once
// SIGTERM and SIGINT as events of the loop, read from a signalfd, so that
// stopping runs as ordinary code: no handler interrupts a tick half way.
// relayd and the panel both stop this way, closing their ports and removing
// their sockets. block_stop_signals() must run before any thread starts,
// so that every thread inherits the mask and no signal lands elsewhere.

#include "loop/io_loop.h"

#include <functional>
#include <string>

namespace relay {

void block_stop_signals();

class stop_signals {
public:
    // name: "SIGTERM" or "SIGINT". Throws std::system_error when the
    // signalfd cannot be had.
    stop_signals(io_loop& loop, std::function<void(const std::string& name)> received);
    ~stop_signals();
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;

private:
    void readable();

    int fd = -1;
    std::function<void(const std::string&)> received;
    fd_watch watch;
};

}  // namespace relay
