#pragma once
// The timed steps a board still owes, kept in a small file so that a relayd
// killed by SIGKILL or a power cut carries them out when it next runs. One
// line per step, "RELAY on|off DUE" with DUE in milliseconds since the
// epoch: wall-clock time, since the next run knows no other.

#include "core/relay_state.h"

#include <chrono>
#include <string>
#include <vector>

namespace relay::relayd {

struct saved_step {
    int relay = 0;
    relay_state final_state = relay_state::off;
    std::chrono::system_clock::time_point due;

    bool operator==(const saved_step& other) const
    {
        return relay == other.relay && final_state == other.final_state && due == other.due;
    }
};

std::string pending_steps_text(const std::vector<saved_step>& steps);
// Lines that make no sense (a torn or edited file) are left out.
std::vector<saved_step> parse_pending_steps(const std::string& text);

// Written to a temporary file and renamed over the old, so that a crash
// leaves the old file or the new, never half of one; no steps, no file.
// Empty on success, else why not.
std::string save_pending_steps(const std::string& path, const std::vector<saved_step>& steps);
std::vector<saved_step> load_pending_steps(const std::string& path);

}  // namespace relay::relayd
