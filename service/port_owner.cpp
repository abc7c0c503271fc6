#include "service/port_owner.h"

#include <QDebug>

namespace relay {

port_owner::port_owner(panel_controller& board, QObject* parent) : QObject(parent), board(board), socket(board)
{
    // Connecting and disconnecting both change the link (to silent, to lost),
    // which is the one moment this needs to look.
    board.add_observer(this);
    follow_connection();
}

port_owner::~port_owner() { board.remove_observer(this); }

void port_owner::link_changed(link_condition, const relay_statuses&) { follow_connection(); }

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
            own.last_problem = result.reason;
            if (!result.ok)
                qWarning("relay-panel: scripts cannot reach the board: %s", result.reason.c_str());
        }
    }
    if (socket.is_listening() != was_serving)
        emit serving_changed(socket.is_listening());
}

}  // namespace relay
