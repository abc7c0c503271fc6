#pragma once
// Whether relayd goes on MQTT, and with what: the broker URL from --mqtt or
// else the [mqtt] section's url, and the section's other keys for the MQTT
// library. Pure, so that every combination is tested in memory.

#include <map>
#include <string>

namespace relay::relayd {

struct mqtt_choice {
    bool wanted = false;
    std::string url;
    std::map<std::string, std::string> keys;  // the [mqtt] section without url
    std::string error;                        // one line; relayd exits 2
};

// command_line_url: --mqtt, empty when not given; it wins over the file's.
// config_file: empty when the boards come from the command line.
mqtt_choice choose_mqtt(const std::string& command_line_url, const std::map<std::string, std::string>& section,
                        const std::string& config_file);

}  // namespace relay::relayd
