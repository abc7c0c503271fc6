#include "app/port_owner.h"

#include "service/socket_paths.h"

#include <QDebug>

#include <cstdio>

namespace relay {

port_owner::port_owner(board_core& board, log_function log_, QObject* parent)
    : QObject(parent), board(board), log(std::move(log_)), socket(loop, board)
{
    if (!log)
        log = [](const std::string& line) {
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fflush(stderr);
        };
    const auto tell = [this](const std::string& line, bool confirmed) { audit(line, confirmed); };
    socket.set_audit(tell);
    window_commands = std::make_unique<mailbox_audit>(board, tell);
    board.add_listener(this);
    follow_connection();
}

port_owner::~port_owner() { board.remove_listener(this); }

void port_owner::audit(const std::string& line, bool confirmed) const
{
    // The priority prefix as relayd writes it, for a journal that reads
    // the panel's stderr.
    log(std::string(confirmed ? "<6>" : "<4>") + "relay-panel: " + board.port().path + ": " + line + "\n");
}

void port_owner::follow_connection()
{
    const bool was_serving = socket.is_listening();
    if (!board.connected()) {
        socket.close();
    } else {
        const auto wanted = user_socket_path(board.port().path);
        // A lost port reopened under another name moves the socket with it.
        if (socket.is_listening() && socket.path() != wanted)
            socket.close();
        if (!socket.is_listening()) {
            const auto result = socket.listen(wanted, socket_access::owner_only);
            last_problem_ = result.reason;
            if (!result.ok)
                qWarning("relay-panel: scripts cannot reach the board: %s", result.reason.c_str());
        }
    }
    if (socket.is_listening() != was_serving)
        emit serving_changed(socket.is_listening());
}

}  // namespace relay
