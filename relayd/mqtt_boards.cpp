#include "relayd/mqtt_boards.h"

#include "relayd/daemon_log.h"

namespace relay::relayd {

mqtt_boards::mqtt_boards(std::unique_ptr<mqtt::mqtt_bridge> bridge_, QObject* parent)
    : QObject(parent), bridge(std::move(bridge_))
{
}

mqtt_boards::~mqtt_boards() { stop(); }

void mqtt_boards::serve(board_service& board, const std::string& name)
{
    if (board.controller().connected()) {
        add(board, name);
        return;
    }
    connect(&board, &board_service::port_opened, this, [this, &board, name] { add(board, name); },
            Qt::SingleShotConnection);
}

void mqtt_boards::add(board_service& board, const std::string& name)
{
    if (!bridge)
        return;
    const auto id = bridge->add_board(board.controller(), name);
    log_line(priority::info, board.config().name + ": on MQTT as " + id + ", client id " + bridge->client_id_for(id));
}

void mqtt_boards::stop() { bridge.reset(); }

}  // namespace relay::relayd
