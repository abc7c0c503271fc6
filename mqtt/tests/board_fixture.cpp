#include "board_fixture.h"

namespace relay::mqtt::testing {

std::string board_rig::start(std::map<std::string, std::string> config, broker_options options)
{
    broker = std::make_unique<test_broker>(std::move(options));
    std::string why;
    if (!broker->start(why))
        return why;
    board = std::make_unique<pty_board>();
    session = std::make_unique<panel_session>();
    auto& core = session->core();
    if (const auto opened = core.connect(board->slave_path()); !opened.ok)
        return "the session cannot open the board's port: " + opened.reason;
    if (!wait_until([&] { return core.link_now() == link_condition::answering; }))
        return "the board does not answer the session";
    watcher = std::make_unique<test_client>(broker->port(), std::vector<std::string>{"relay-panel/#", "homeassistant/#"});
    if (!wait_until([&] { return watcher->ready(); }))
        return "the watching client does not subscribe";
    return start_bridge(config);
}

std::string board_rig::start_bridge(const std::map<std::string, std::string>& config)
{
    auto started = start_mqtt(broker->url(), config, [this](const std::string& line) { log.push_back(line); });
    if (!started.bridge)
        return started.error;
    bridge = std::move(started.bridge);
    auto board_options = options;
    board_options.name = board_name;
    bridge->add_board(session->core(), board_options);
    if (!wait_until([&] { return watcher->last(topics.availability()) == std::string(payload_online); }))
        return "the board's availability never reads online";
    return {};
}

void board_rig::stop()
{
    bridge.reset();
    watcher.reset();
    session.reset();
    board.reset();
    broker.reset();
    log.clear();
}

bool board_rig::log_has(const std::string& words) const
{
    for (const auto& line : log)
        if (line.find(words) != std::string::npos)
            return true;
    return false;
}

std::vector<command_tuple> board_rig::set_commands() const
{
    std::vector<command_tuple> found;
    for (const auto& f : board->received_frames()) {
        std::uint8_t address = 0;
        command_tuple command;
        if (decode_command(f.bytes, address, command) && command.code == code_set_relays)
            found.push_back(command);
    }
    return found;
}

}  // namespace relay::mqtt::testing
