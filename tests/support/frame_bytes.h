#pragma once
// Frames as byte vectors, for the line-level helpers that take pieces of
// an answer.

#include "protocol/frame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace relay::testing {

// Byte by byte: GCC 12 misreads a range copy out of std::array as out of bounds.
inline std::vector<std::uint8_t> bytes_of(const frame& f, std::size_t from = 0, std::size_t to = frame_size)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = from; i < to && i < frame_size; ++i)
        out.push_back(f[i]);
    return out;
}

}  // namespace relay::testing
