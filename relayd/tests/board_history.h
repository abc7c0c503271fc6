#pragma once
// What a simulated board went through, replayed from the command frames it
// took: how long a relay stayed switched and whether a group of relays was
// ever on together, as the board saw it rather than as a client was told.

#include "sim/pty_board.h"

#include <QVector>

#include <chrono>
#include <optional>

namespace relay::relayd::testing {

struct board_history {
    // Between the first frame that switched `relay` and the next that
    // switched it back; nothing when it was not switched twice.
    std::optional<std::chrono::milliseconds> held;
    bool group_ever_on_together = false;
    int set_frames = 0;
};

// From the relays as they stood before the frames the board still logs;
// relay 0 measures nothing.
inline board_history replay(const pty_board& board, std::array<bool, relay_count> relays, int relay,
                            const QVector<int>& group)
{
    board_history seen;
    std::optional<std::chrono::steady_clock::time_point> first;
    for (const auto& rx : board.received_frames()) {
        std::uint8_t address = 0;
        command_tuple command;
        if (!decode_command(rx.bytes, address, command) || command.code != code_set_relays)
            continue;
        ++seen.set_frames;
        const auto before = relays;
        for (std::size_t i = 0; i < relays.size(); ++i)
            if (command.actions[i] != action_leave)
                relays[i] = command.actions[i] == action_on;
        int on_in_group = 0;
        for (const int member : group)
            on_in_group += relays[static_cast<std::size_t>(member - 1)] ? 1 : 0;
        seen.group_ever_on_together |= on_in_group > 1;
        const auto index = static_cast<std::size_t>(relay - 1);
        if (relay == 0 || relays[index] == before[index])
            continue;
        if (!first)
            first = rx.arrival;
        else if (!seen.held)
            seen.held = std::chrono::duration_cast<std::chrono::milliseconds>(rx.arrival - *first);
    }
    return seen;
}

}  // namespace relay::relayd::testing
