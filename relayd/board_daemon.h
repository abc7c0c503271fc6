#pragma once
// Every board of one relayd, all on the one event loop and one clock: each
// tick of the daemon's 100 ms clock is a tick of every board, so a hundred
// boards cost one timer wake-up a tick, not a hundred. With simulate, each
// board gets a simulated board on a pseudo-terminal in place of its port.

#include "loop/io_loop.h"
#include "relayd/board_service.h"
#include "relayd/config_file.h"
#include "sim/pty_board.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relay::relayd {

class board_daemon {
public:
    board_daemon(io_loop& loop, std::vector<board_config> boards, bool system_mode, bool simulate);
    ~board_daemon();
    board_daemon(const board_daemon&) = delete;
    board_daemon& operator=(const board_daemon&) = delete;

    // Serves every socket, then starts polling every board. False when a
    // socket cannot be served; nothing is left listening then.
    bool start();
    void stop();

    // "cabinet answering, bench lost", for systemd's status line.
    std::string status_line() const;
    const std::vector<std::unique_ptr<board_service>>& boards() const { return boards_; }

    // A board's link went between answering, silent and lost.
    void on_status_changed(std::function<void()> heard);

    // Every board's pending timed steps go out now; `done` is called once
    // the boards have proven them all, or after settle_bound at the most.
    void settle_then(std::function<void()> done);

private:
    std::vector<std::unique_ptr<pty_board>> simulated;
    std::vector<std::unique_ptr<board_service>> boards_;
    loop_timer clock;
    loop_timer settling;
    std::function<void()> settled;
    int settle_ticks_left = 0;
};

// How long relayd waits on SIGTERM for its boards to prove their timed
// steps' final states.
constexpr std::chrono::milliseconds settle_bound{1000};

}  // namespace relay::relayd
