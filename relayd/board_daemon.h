#pragma once
// Every board of one relayd: each with its own session, tick and socket,
// all on the one event loop. With simulate, each board gets a simulated
// board on a pseudo-terminal in place of its port.

#include "relayd/board_service.h"
#include "relayd/config_file.h"
#include "sim/pty_board.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace relay::relayd {

class board_daemon : public QObject {
    Q_OBJECT
public:
    // The control sockets are served on loop.
    board_daemon(io_loop& loop, std::vector<board_config> boards, bool system_mode, bool simulate,
                 QObject* parent = nullptr);
    ~board_daemon() override;

    // Serves every socket, then starts polling every board. False when a
    // socket cannot be served; nothing is left listening then.
    bool start();
    void stop();

    // "cabinet answering, bench lost", for systemd's status line.
    std::string status_line() const;
    const std::vector<std::unique_ptr<board_service>>& boards() const { return boards_; }

signals:
    void status_changed();

private:
    std::vector<std::unique_ptr<pty_board>> simulated;
    std::vector<std::unique_ptr<board_service>> boards_;
};

}  // namespace relay::relayd
