#pragma once
// The two fixed 8-byte frames on the line to the relay board: the command
// frame the panel sends and the status frame the board answers with.

#include <array>
#include <cstddef>
#include <cstdint>

namespace relay {

constexpr std::size_t frame_size = 8;
constexpr int relay_count = 4;

using frame = std::array<std::uint8_t, frame_size>;

constexpr std::uint8_t command_start_byte = 0x55;
constexpr std::uint8_t status_start_byte = 0x22;

// Command codes (byte 2 of a command frame).
constexpr std::uint8_t code_status_query = 0;
constexpr std::uint8_t code_set_relays = 1;

// Relay actions (bytes 3 to 6 of a command frame).
constexpr std::uint8_t action_leave = 0;
constexpr std::uint8_t action_off = 1;
constexpr std::uint8_t action_on = 2;

// Relay status codes (bytes 3 to 6 of a status frame).
constexpr std::uint8_t status_off = 1;
constexpr std::uint8_t status_on = 2;

// A command code followed by the actions for relays 1 to 4.
struct command_tuple {
    std::uint8_t code = code_status_query;
    std::array<std::uint8_t, relay_count> actions{};

    friend bool operator==(const command_tuple& a, const command_tuple& b)
    {
        return a.code == b.code && a.actions == b.actions;
    }
    friend bool operator!=(const command_tuple& a, const command_tuple& b) { return !(a == b); }
};

constexpr command_tuple status_query{};

// Sum of bytes 0 to 6, modulo 256.
std::uint8_t checksum(const frame& f);

// Builds a command frame. The address is reduced modulo 256; callers pass 0 to 255.
frame encode_command(std::int32_t address, const command_tuple& command);

// Reads a command frame back into its tuple (used by the simulated board and
// by tests); false when the start byte or checksum is wrong.
bool decode_command(const frame& f, std::uint8_t& address, command_tuple& command);

// A status frame is valid when it starts with 0x22 and its checksum matches.
// The address byte and byte 2 are not examined.
bool is_valid_status(const frame& f);

// The four relay status bytes, relay i taken from byte 2 + i.
std::array<std::uint8_t, relay_count> decode_status(const frame& f);

// Builds a status frame as the board sends it; byte 2 echoes the command code.
frame encode_status(std::uint8_t address, std::uint8_t code,
                    const std::array<std::uint8_t, relay_count>& statuses);

}  // namespace relay
