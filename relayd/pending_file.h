#pragma once
// The timed steps a board still owes, kept in a small file so that a relayd
// killed by SIGKILL or a power cut carries them out when it next runs. One
// line per step, "RELAY on|off DUE LENGTH": DUE in milliseconds since the
// epoch, wall-clock time since the next run knows no other, and LENGTH the
// step's whole time in milliseconds, which bounds the wait when the clock
// comes up behind. Lines of older runs lack LENGTH.

#include "core/relay_state.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace relay::relayd {

struct saved_step {
    int relay = 0;
    relay_state final_state = relay_state::off;
    std::chrono::system_clock::time_point due;
    std::optional<std::chrono::milliseconds> duration;

    bool operator==(const saved_step& other) const
    {
        return relay == other.relay && final_state == other.final_state && due == other.due &&
               duration == other.duration;
    }
};

struct pending_read {
    std::vector<saved_step> steps;
    // Each line left out (a torn or edited file, a clock far off), with why.
    std::vector<std::string> ignored;
};

std::string pending_steps_text(const std::vector<saved_step>& steps);
// Read at `now`: a line without LENGTH due later than any step may last
// from now cannot be bounded and is left out.
pending_read parse_pending_steps(const std::string& text, std::chrono::system_clock::time_point now);

// How long the step still has at `now`: none once due, never more than its
// length (the clock is behind its start) nor than any step may last.
std::chrono::milliseconds time_left_of(const saved_step& step, std::chrono::system_clock::time_point now);

// Written to a temporary file and renamed over the old, so that a crash
// leaves the old file or the new, never half of one; no steps, no file.
// Empty on success, else why not.
std::string save_pending_steps(const std::string& path, const std::vector<saved_step>& steps);
pending_read load_pending_steps(const std::string& path, std::chrono::system_clock::time_point now);

}  // namespace relay::relayd
