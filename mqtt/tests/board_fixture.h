#pragma once
// A simulated board on a pseudo-terminal behind a real session, a real
// broker, the bridge serving the board, and a client outside watching.

#include "live_board_rig.h"
#include "loop/qt_io_loop.h"
#include "mqtt/relay_mqtt.h"
#include "test_broker.h"

#include <memory>
#include <string>
#include <vector>

namespace relay::mqtt::testing {

constexpr const char* board_name = "bench";
constexpr const char* client_id = "relayd-test";

struct board_rig {
    // The bridge's loop: the Qt loop the session runs on, as in relayd.
    qt_io_loop loop;
    std::unique_ptr<test_broker> broker;
    // The simulated board and the session connected to it.
    std::unique_ptr<relay::testing::live_board_rig> live;
    std::unique_ptr<test_client> watcher;
    std::unique_ptr<mqtt_bridge> bridge;
    std::vector<std::string> log;
    board_topics topics{"relay-panel", board_name};
    // How the bridge is told of the board (its name is board_name).
    board_options options;

    // Everything up, the board answering and its availability online.
    // Empty on success, else what failed.
    std::string start(std::map<std::string, std::string> config = {{"client_id", client_id}},
                      broker_options options = {});
    // The board alone, answering its session: for a test that starts the
    // broker and the bridge its own way.
    std::string start_board();
    // The bridge serving the board; until_online: and its availability
    // online. On the rig's broker unless given another URL.
    std::string start_bridge(const std::map<std::string, std::string>& config, bool until_online = true,
                             const std::string& url = {});
    void stop_bridge() { bridge.reset(); }
    // Takes everything down, the bridge first so that it still has a board.
    void stop();

    pty_board& board() { return live->board(); }
    board_core& core() { return live->core(); }

    bool log_has(const std::string& words) const;
    // Set-relays frames the board has received.
    std::vector<command_tuple> set_commands() const;
};

}  // namespace relay::mqtt::testing
