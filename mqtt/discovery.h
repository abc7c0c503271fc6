#pragma once
// Home Assistant's MQTT discovery: one retained config message per entity,
// so that a board appears as one device with nothing to type on the Home
// Assistant side: a switch for each relay, a button for each relay given a
// pulse, and a diagnostic sensor for the board's link. The keys are those of Home Assistant's MQTT switch and
// binary sensor, written out in full.

#include "mqtt/topics.h"
#include "protocol/frame.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace relay::mqtt {

struct discovery_message {
    std::string topic;
    std::string payload;  // compact JSON; empty removes the entity
};

// How Home Assistant shows a relay: device class "switch" (generic), or
// "outlet" (a socket outlet's icon and wording).
enum class relay_kind { generic, outlet };
const char* device_class_word(relay_kind kind);
// "switch" or "outlet"; nothing for any other word.
bool relay_kind_from_word(const std::string& word, relay_kind& kind);

struct discovered_board {
    std::string discovery_prefix;
    // The board's topic level, and its node in Home Assistant's ids
    // (board_id.h): the node never holds a pseudo-terminal's number.
    std::string board;
    std::string node;
    std::array<relay_kind, relay_count> kinds{};
    // What the configuration calls each relay; empty: "Relay n".
    std::array<std::string, relay_count> names{};
    // A relay with a pulse gets a button that asks for it.
    std::array<std::optional<std::chrono::milliseconds>, relay_count> pulses{};
};

// The switch for relay 1 to 4. Its availability is the board's topic,
// which says offline for a silent board, a lost port, a clean stop and, as
// the last will of the board's connection, a daemon that died.
discovery_message relay_discovery(const discovered_board& board, const board_topics& topics, int relay);
// The button "<name> pulse" of a relay with a pulse: pressing it publishes
// the pulse's milliseconds on the relay's pulse topic. Nothing for a relay
// without one.
std::optional<discovery_message> pulse_button_discovery(const discovered_board& board, const board_topics& topics,
                                                        int relay);
// The board's link as a connectivity sensor (diagnostic): on while the
// board answers, off when it is silent, its port is lost or relayd is
// gone. It reads the availability topic, and has no availability of its
// own, so that it says "disconnected" rather than "unavailable".
discovery_message link_discovery(const discovered_board& board, const board_topics& topics);
// Every message of the board: the switches, the buttons, the link last.
std::vector<discovery_message> board_discovery(const discovered_board& board, const board_topics& topics);

}  // namespace relay::mqtt
