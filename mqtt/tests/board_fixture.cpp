#include "board_fixture.h"

namespace relay::mqtt::testing {

std::string board_rig::start(std::map<std::string, std::string> config, broker_options options)
{
    broker = std::make_unique<test_broker>(std::move(options));
    std::string why;
    if (!broker->start(why))
        return why;
    if (auto failed = start_board(); !failed.empty())
        return failed;
    watcher = std::make_unique<test_client>(broker->port(), std::vector<std::string>{"relay-panel/#", "homeassistant/#"});
    if (!wait_until([&] { return watcher->ready(); }))
        return "the watching client does not subscribe";
    return start_bridge(config);
}

std::string board_rig::start_board()
{
    live = std::make_unique<relay::testing::live_board_rig>();
    if (!live->connect_until_answering())
        return "the board does not answer the session";
    return {};
}

std::string board_rig::start_bridge(const std::map<std::string, std::string>& config, bool until_online,
                                    const std::string& url)
{
    auto started = start_mqtt(loop, url.empty() ? broker->url() : url, config, [this](const std::string& line) { log.push_back(line); });
    if (!started.bridge)
        return started.error;
    bridge = std::move(started.bridge);
    auto board_options = options;
    board_options.name = board_name;
    bridge->add_board(core(), board_options);
    const auto online = [&] { return watcher->last(topics.availability()) == std::string(payload_online); };
    if (until_online && !wait_until(online))
        return "the board's availability never reads online";
    return {};
}

void board_rig::stop()
{
    bridge.reset();
    watcher.reset();
    live.reset();
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
    for (const auto& f : live->board().received_frames()) {
        std::uint8_t address = 0;
        command_tuple command;
        if (decode_command(f.bytes, address, command) && command.code == code_set_relays)
            found.push_back(command);
    }
    return found;
}

}  // namespace relay::mqtt::testing
