#pragma once
// relayd's boards on the MQTT broker. A board joins once its port is open:
// its id on the broker comes from the open port (the USB adapter's serial
// number, or the device) and its address unless the file names it, so a
// board whose port only appears later joins then, as its core tells.

#include "core/board_core.h"
#include "mqtt/mqtt_bridge.h"
#include "relayd/board_service.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace relay::relayd {

class mqtt_boards {
public:
    // The bridge runs on the loop it was made with (start_mqtt).
    explicit mqtt_boards(std::unique_ptr<mqtt::mqtt_bridge> bridge);
    // Made after the boards it serves, and gone before them.
    ~mqtt_boards();
    mqtt_boards(const mqtt_boards&) = delete;
    mqtt_boards& operator=(const mqtt_boards&) = delete;

    // Remembers in this file which Home Assistant discovery messages each
    // board announced, and removes those of boards not among configured.
    // Call before serve().
    void record_discovery(const std::string& path, const std::set<std::string>& configured);
    // name: the board's name in the config file, empty for a board from
    // the command line. Its discovery messages are recorded under its
    // configured name either way.
    void serve(board_service& board, const std::string& name);
    // Every board offline and each connection closed cleanly. Called before
    // the ports close, so that no board is left "online" on the broker.
    void stop();

private:
    // A board whose port is not open yet: it joins when its core connects.
    class waiting_board;

    void add(board_service& board, const std::string& name);
    void joined(waiting_board& waiting);

    std::unique_ptr<mqtt::mqtt_bridge> bridge;
    std::vector<std::unique_ptr<waiting_board>> waiting;
};

}  // namespace relay::relayd
