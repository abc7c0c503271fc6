#include "sim/board_model.h"

#include <algorithm>

namespace relay {

board_model::board_model(std::optional<std::uint8_t> address) : address_(address) {}

std::array<std::uint8_t, relay_count> board_model::statuses() const
{
    std::array<std::uint8_t, relay_count> codes{};
    for (int i = 0; i < relay_count; ++i)
        codes[i] = relays_[i] ? status_on : status_off;
    return codes;
}

std::vector<board_event> board_model::feed(const std::uint8_t* bytes, std::size_t count)
{
    std::vector<board_event> events;
    for (std::size_t n = 0; n < count; ++n) {
        // A byte that cannot start a frame is dropped at once, so the board
        // holds at most the seven bytes of a frame still arriving.
        if (bytes_held_ == 0 && bytes[n] != command_start_byte)
            continue;
        pending[bytes_held_++] = bytes[n];
        if (bytes_held_ < frame_size)
            continue;
        if (auto event = take_frame())
            events.push_back(*event);
    }
    return events;
}

std::optional<board_event> board_model::take_frame()
{
    std::uint8_t to = 0;
    command_tuple command;
    if (!decode_command(pending, to, command)) {
        // Noise or a shifted frame: give up one byte and look for the next
        // start byte among the rest.
        auto start = std::find(pending.begin() + 1, pending.end(), command_start_byte);
        bytes_held_ = static_cast<std::size_t>(pending.end() - start);
        std::copy(start, pending.end(), pending.begin());
        // At least one byte went, so what is kept is short of a frame and
        // only further bytes can complete it.
        return std::nullopt;
    }
    board_event event;
    event.command = pending;
    bytes_held_ = 0;
    if (address_ && *address_ != to)
        return event;
    if (command.code == code_set_relays) {
        for (int i = 0; i < relay_count; ++i) {
            if (command.actions[i] == action_on)
                relays_[i] = true;
            else if (command.actions[i] == action_off)
                relays_[i] = false;
        }
    } else if (command.code != code_status_query) {
        return event;
    }
    event.answer = encode_status(to, command.code, statuses());
    return event;
}

}  // namespace relay
