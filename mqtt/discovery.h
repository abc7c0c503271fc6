#pragma once
// Home Assistant's MQTT discovery: one retained config message per relay,
// so that the four switches of a board appear as one device with nothing to
// type on the Home Assistant side.

#include "mqtt/topics.h"

#include <string>

namespace relay::mqtt {

struct discovery_message {
    std::string topic;
    std::string payload;  // compact JSON
};

// The switch for relay 1 to 4. Its availability is the board's topic,
// which says offline for a silent board, a lost port, a clean stop and, as
// the last will of the board's connection, a daemon that died.
discovery_message relay_discovery(const std::string& discovery_prefix, const std::string& board,
                                  const board_topics& topics, int relay);

}  // namespace relay::mqtt
