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

// The switch for relay 1 to 4. Its availability is the board's and the
// daemon's together: the board may be silent while the daemon runs, and a
// killed daemon leaves only its last will to say so.
discovery_message relay_discovery(const std::string& discovery_prefix, const std::string& board,
                                  const board_topics& topics, const std::string& daemon_availability,
                                  int relay);

}  // namespace relay::mqtt
