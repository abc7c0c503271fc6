#include "relayd/board_daemon.h"

namespace relay::relayd {

board_daemon::board_daemon(io_loop& loop, std::vector<board_config> boards, bool system_mode, bool simulate,
                           QObject* parent)
    : QObject(parent)
{
    for (auto& board : boards) {
        if (simulate) {
            simulated.push_back(std::make_unique<pty_board>(board.address));
            board.port = simulated.back()->slave_path();
        }
        boards_.push_back(std::make_unique<board_service>(loop, board, system_mode));
        connect(boards_.back().get(), &board_service::link_condition_changed, this, &board_daemon::status_changed);
    }
}

board_daemon::~board_daemon() = default;

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
    return true;
}

void board_daemon::stop()
{
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
