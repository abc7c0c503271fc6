#include "relayd/mqtt_boards.h"

#include "relayd/daemon_log.h"

#include <algorithm>

namespace relay::relayd {

class mqtt_boards::waiting_board : private board_core::listener {
public:
    waiting_board(mqtt_boards& owner, board_service& board, std::string name)
        : owner(owner), board(board), name(std::move(name))
    {
        board.core().add_listener(this);
    }
    ~waiting_board() { board.core().remove_listener(this); }
    waiting_board(const waiting_board&) = delete;
    waiting_board& operator=(const waiting_board&) = delete;

    mqtt_boards& owner;
    board_service& board;
    const std::string name;

private:
    void connection_changed(bool connected) override
    {
        if (connected)
            owner.joined(*this);
    }
};

mqtt_boards::mqtt_boards(std::unique_ptr<mqtt::mqtt_bridge> bridge_) : bridge(std::move(bridge_)) {}

mqtt_boards::~mqtt_boards() { stop(); }

void mqtt_boards::serve(board_service& board, const std::string& name)
{
    if (board.core().connected()) {
        add(board, name);
        return;
    }
    waiting.push_back(std::make_unique<waiting_board>(*this, board, name));
}

void mqtt_boards::joined(waiting_board& board)
{
    // Taken off the core's listeners while the core tells it, which the
    // core allows; its own call is still under way, and touches nothing
    // once this returns.
    const auto it = std::find_if(waiting.begin(), waiting.end(), [&](const auto& w) { return w.get() == &board; });
    if (it == waiting.end())
        return;
    auto leaving = std::move(*it);
    waiting.erase(it);
    add(leaving->board, leaving->name);
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
    options.names = board.config().names;
    options.pulses = board.config().pulse_buttons;
    options.audit = [&board](const std::string& line, bool confirmed) { board.audit(line, confirmed); };
    const auto id = bridge->add_board(board.core(), options);
    log_line(priority::info, board.config().name + ": on MQTT as " + id + ", client id " + bridge->client_id_for(id));
}

void mqtt_boards::stop()
{
    waiting.clear();
    bridge.reset();
}

}  // namespace relay::relayd
