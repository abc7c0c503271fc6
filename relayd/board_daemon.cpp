#include "relayd/board_daemon.h"

#include <algorithm>

namespace relay::relayd {

board_daemon::board_daemon(io_loop& loop, std::vector<board_config> boards, bool system_mode, bool simulate)
    : clock(loop, [this] {
          for (auto& service : boards_)
              service->tick();
      }),
      settling(loop, [this] {
          const bool pending = std::any_of(boards_.begin(), boards_.end(),
                                           [](const auto& service) { return service->steps_pending(); });
          if (pending && --settle_ticks_left > 0)
              return;
          settling.stop();
          if (auto done = std::move(settled))
              done();
      })
{
    for (auto& board : boards) {
        if (simulate) {
            simulated.push_back(std::make_unique<pty_board>(board.address));
            board.port = simulated.back()->slave_path();
        }
        boards_.push_back(std::make_unique<board_service>(loop, board, system_mode));
    }
}

board_daemon::~board_daemon() = default;

void board_daemon::on_status_changed(std::function<void()> heard)
{
    for (auto& service : boards_)
        service->on_link_condition_changed(heard);
}

bool board_daemon::start()
{
    for (auto& service : boards_) {
        if (!service->serve_socket()) {
            stop();
            return false;
        }
    }
    for (auto& service : boards_)
        service->start_polling();
    // A board's first tick is one period after its port opens or after
    // relayd starts, whichever is later: at most one period either way.
    clock.start_every(poll_period);
    return true;
}

void board_daemon::settle_then(std::function<void()> done)
{
    settled = std::move(done);
    for (auto& service : boards_)
        service->settle_pending_steps();
    settle_ticks_left = ticks_in(settle_bound);
    // Checked each tick; the boards' own clock keeps sending meanwhile.
    settling.start_every(poll_period);
}

void board_daemon::stop()
{
    settling.stop();
    settled = nullptr;
    clock.stop();
    for (auto& service : boards_)
        service->stop();
}

std::string board_daemon::status_line() const
{
    std::string line;
    for (const auto& service : boards_) {
        if (!line.empty())
            line += ", ";
        line += service->config().name + " " + link_word(service->link());
    }
    return line;
}

}  // namespace relay::relayd
