#pragma once
// The configuration file, /etc/relayd.conf for the system service:
//
//   # comments start with '#' or ';', on their own line or after a space
//   [mqtt]                 # handed on untouched to whoever publishes to MQTT
//   [http]                 # the web page's keys, checked by http_choice.h
//   url = mqtt://localhost:1883
//
//   [board cabinet]        # one section per board; the name is one word
//   port = /dev/ttyUSB0    # required: a port number or a device
//   address = 1            # 0 to 255, default 1
//   socket = /run/relayd/cabinet.sock   # optional, absolute
//   board_id = cabinet-pump-house       # optional: its name in Home Assistant's ids
//   relay2_class = outlet  # optional, relay1_class to relay4_class: switch (default) or outlet
//   relay2 = pump          # optional, relay1 to relay4: a name that stands for the number
//   interlock = 1 2, 3 4   # optional: groups of relays that are never on together
//   restore = last         # optional: leave (default), last or off, when the board answers again
//   pulse2 = 500ms         # optional, pulse1 to pulse4: Home Assistant gets a button for this pulse
//
// Any mistake is reported with the file, the line and the key, and the
// daemon does not start: a half-understood file would run the wrong boards.
// A control byte anywhere is a mistake too, and what a message quotes from
// the file is shown with such bytes escaped.

#include "core/relay_names.h"
#include "core/switch_rules.h"
#include "serial/port_catalog.h"

#include "protocol/frame.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace relay::relayd {

struct board_config {
    std::string name;
    std::string port = "1";
    std::uint8_t address = 1;
    std::string socket;  // empty: the usual place for the port
    // Home Assistant: the board's node in every id (letters, digits, '_'
    // and '-'), set once by the user so that the ids never change; empty:
    // the host and the board's name. And which relays show as outlets
    // rather than switches.
    std::string board_id{};
    std::array<bool, relay_count> outlets{};
    // Empty for a relay without a name.
    std::array<std::string, relay_count> names{};
    switch_rules rules{};
    // The pulse a relay's Home Assistant button asks for; none, no button.
    std::array<std::optional<std::chrono::milliseconds>, relay_count> pulse_buttons{};
};

struct daemon_config {
    std::vector<board_config> boards;
    std::map<std::string, std::string> mqtt;
    std::map<std::string, std::string> http;  // the [http] section, read by http_choice.h
};

struct config_result {
    bool ok = false;
    daemon_config config;
    std::string error;  // "FILE:LINE: what is wrong", set when !ok
};

// file_name only appears in messages. The catalog numbers the ports, so
// that "port = 1" and the device it names are known to be one port.
config_result parse_config(const std::string& text, const std::string& file_name, const port_catalog& catalog);
config_result read_config_file(const std::string& path, const port_catalog& catalog);

}  // namespace relay::relayd
