#include "protocol/frame.h"

namespace relay {

std::uint8_t checksum(const frame& f)
{
    // Seven bytes of at most 255 fit easily; the wrap is the checksum's own.
    unsigned sum = 0;
    for (std::size_t i = 0; i < frame_size - 1; ++i)
        sum += f[i];
    return static_cast<std::uint8_t>(sum % 256);
}

frame encode_command(std::int32_t address, const command_tuple& command)
{
    frame f{};
    f[0] = command_start_byte;
    // The remainder keeps the dividend's sign; bring it into 0..255 so that
    // a byte on the wire is always what the modulo means.
    std::int32_t reduced = address % 256;
    if (reduced < 0)
        reduced += 256;
    f[1] = static_cast<std::uint8_t>(reduced);
    f[2] = command.code;
    for (int i = 0; i < relay_count; ++i)
        f[3 + i] = command.actions[i];
    f[7] = checksum(f);
    return f;
}

bool decode_command(const frame& f, std::uint8_t& address, command_tuple& command)
{
    if (f[0] != command_start_byte || f[7] != checksum(f))
        return false;
    address = f[1];
    command.code = f[2];
    for (int i = 0; i < relay_count; ++i)
        command.actions[i] = f[3 + i];
    return true;
}

bool is_valid_status(const frame& f)
{
    return f[0] == status_start_byte && f[7] == checksum(f);
}

std::array<std::uint8_t, relay_count> decode_status(const frame& f)
{
    return {f[3], f[4], f[5], f[6]};
}

frame encode_status(std::uint8_t address, std::uint8_t code,
                    const std::array<std::uint8_t, relay_count>& statuses)
{
    frame f{status_start_byte, address, code, statuses[0], statuses[1], statuses[2], statuses[3], 0};
    f[7] = checksum(f);
    return f;
}

}  // namespace relay
