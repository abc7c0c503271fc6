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
    if (board.core().connected()) {
        add(board, name);
        return;
    }
    // Once, and never after these boards are gone from the broker.
    board.on_port_opened([this, &board, name, present = std::weak_ptr<bool>(alive), added = false]() mutable {
        if (added || present.expired())
            return;
        added = true;
        add(board, name);
    });
}

void mqtt_boards::record_discovery(const std::string& path, const std::set<std::string>& configured)
{
    if (bridge)
        bridge->record_discovery(path, configured);
}

void mqtt_boards::add(board_service& board, const std::string& name)
{
    if (!bridge)
        return;
    mqtt::board_options options;
    options.name = name;
    options.record_name = board.config().name;
    options.board_id = board.config().board_id;
    for (std::size_t i = 0; i < options.kinds.size(); ++i)
        options.kinds[i] = board.config().outlets[i] ? mqtt::relay_kind::outlet : mqtt::relay_kind::generic;
    options.audit = [&board](const std::string& line, bool confirmed) { board.audit(line, confirmed); };
    const auto id = bridge->add_board(board.core(), options);
    log_line(priority::info, board.config().name + ": on MQTT as " + id + ", client id " + bridge->client_id_for(id));
}

void mqtt_boards::stop() { bridge.reset(); }

}  // namespace relay::relayd
