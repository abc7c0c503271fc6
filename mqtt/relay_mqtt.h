#pragma once
// The daemon's way in: relayd --mqtt URL plus the [mqtt] section of its
// config file give a running bridge, or plain words saying what is wrong.
//
//   auto started = relay::mqtt::start_mqtt(loop, url, mqtt_section, log_line);
//   if (!started.bridge) { report(started.error); exit(2); }
//   for (auto& session : sessions) started.bridge->add_board(session.controller(), configured_name);
//
// Call it on the loop's thread; the bridge runs on that loop.

#include "mqtt/mqtt_bridge.h"

#include <map>
#include <memory>
#include <string>

namespace relay::mqtt {

struct started_bridge {
    std::unique_ptr<mqtt_bridge> bridge;
    std::string error;
};

started_bridge start_mqtt(io_loop& loop, const std::string& url, const std::map<std::string, std::string>& config,
                          log_function log);

}  // namespace relay::mqtt
