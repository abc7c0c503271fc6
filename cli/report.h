#pragma once
// How relayctl prints what the board reported: a line for people and a JSON
// object for scripts.

#include "core/relay_names.h"
#include "protocol/relay_commands.h"

#include <array>
#include <cstdint>
#include <string>

namespace relay::cli {

using relay::relay_statuses;
using relay::status_word;

struct state_report {
    std::string port;  // the device that was opened
    std::uint8_t address = 0;
    relay_statuses statuses{};
    relay_names names{};  // as the port's owner has them; none without one
};

// "1=on 2=off 3=unknown 4=off"
std::string format_plain(const relay_statuses& statuses);

// {"port":"/dev/ttyUSB0","address":1,"relays":{"1":"on",...}[,"names":{"2":"pump"}]}
std::string format_json(const state_report& report);

std::string format_states(const state_report& report, bool json);

}  // namespace relay::cli
