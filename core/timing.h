#pragma once
// The board's clock: everything the core does happens on a 100 ms tick,
// and every other time in it is a whole number of ticks.

#include <chrono>
#include <cstdint>

namespace relay {

constexpr std::chrono::milliseconds poll_period{100};

constexpr int ticks_in(std::chrono::milliseconds time) { return static_cast<int>(time / poll_period); }

// A valid status frame allows this many silent ticks before the relays
// fall back to unknown.
constexpr std::int32_t watchdog_reload = 5;
// The watchdog's own length: five reloaded ticks and the sixth that gives up.
constexpr std::chrono::milliseconds watchdog_time = poll_period * (watchdog_reload + 1);

// A lost port is reopened this often while connected.
constexpr std::chrono::milliseconds reopen_period{1000};
constexpr int reopen_ticks = ticks_in(reopen_period);

// A board that gives no valid answer for this long while its port looks
// healthy gets the port closed and opened again: a port that has stopped
// handing over what the board sends shows nothing else, and nothing else
// heals it. While the silence lasts, again at most this often.
constexpr std::chrono::milliseconds silent_port_reopen_after{5000};
constexpr std::chrono::milliseconds silent_port_reopen_period{30000};
constexpr int silent_port_reopen_ticks = ticks_in(silent_port_reopen_after);
constexpr int silent_port_repeat_ticks = ticks_in(silent_port_reopen_period);

// How long the board has to prove a command once it is on the line. A
// command waiting in the queue has no deadline of its own: the queue is
// bounded and empties itself with a reason when the port goes, and a
// command whose sender was told it failed must never go out afterwards.
constexpr std::chrono::milliseconds command_deadline{2000};
constexpr int command_deadline_ticks = ticks_in(command_deadline);

// How long a pulse or a cycle may hold a relay switched; its timed step
// goes out on the first tick at or after the time.
constexpr std::chrono::milliseconds min_step_duration{100};
constexpr std::chrono::milliseconds max_step_duration = std::chrono::hours{24};

}  // namespace relay
