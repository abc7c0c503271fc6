#pragma once
// The panel as the owner of its port: while connected it serves the port's
// control socket at the user path, so that a script or relayctl works with
// the window open; at disconnect the socket goes. Clients' commands go out
// on the panel's own ticks and the indicators change only from the board's
// answers, exactly as for the window's clicks.

#include "loop/qt_io_loop.h"
#include "service/control_socket.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

namespace relay {

class port_owner : public QObject, private board_core::listener {
    Q_OBJECT
public:
    // Takes each whole log line; stderr unless a test listens.
    using log_function = std::function<void(const std::string& line)>;

    // Every command the window or a socket client sends is logged, one
    // line each: "<6>relay-panel: /dev/ttyUSB0: command ... from ...".
    // Made on the board's thread, whose Qt loop then serves the socket.
    explicit port_owner(board_core& board, log_function log = {}, QObject* parent = nullptr);
    ~port_owner() override;

    bool is_serving() const { return socket.is_listening(); }
    const std::string& socket_path() const { return socket.path(); }
    // Why the socket could not be served at the last connect; empty otherwise.
    const std::string& last_problem() const { return last_problem_; }

signals:
    void serving_changed(bool serving);

private:
    // Connecting, disconnecting and a lost port reopened (perhaps under
    // another name) are the moments this needs to look.
    void connection_changed(bool) override { follow_connection(); }
    void link_changed(link_condition) override { follow_connection(); }
    void follow_connection();
    void audit(const std::string& line, bool confirmed) const;

    board_core& board;
    log_function log;
    qt_io_loop loop;
    control_socket socket;
    std::unique_ptr<mailbox_audit> window_commands;
    std::string last_problem_;
};

}  // namespace relay
