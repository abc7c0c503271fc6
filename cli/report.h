#pragma once
// How relayctl prints what the board reported: a line for people and a JSON
// object for scripts.

#include "protocol/frame.h"

#include <array>
#include <cstdint>
#include <string>

namespace relay::cli {

using relay_statuses = std::array<std::uint8_t, relay_count>;

struct state_report {
    std::string port;  // the device that was opened
    std::uint8_t address = 0;
    relay_statuses statuses{};
};

// "on", "off", or "unknown" for a byte that is neither status.
const char* status_word(std::uint8_t status);

// "1=on 2=off 3=unknown 4=off"
std::string format_plain(const relay_statuses& statuses);

// {"port":"/dev/ttyUSB0","address":1,"relays":{"1":"on",...}}
std::string format_json(const state_report& report);

std::string format_states(const state_report& report, bool json);

}  // namespace relay::cli
