#pragma once
// The relay board's behaviour without any line: it picks command frames out
// of whatever bytes arrive, switches its four relays and says what it would
// answer. The pseudo-terminal board and the tests both drive it.

#include "protocol/frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace relay {

// One valid command frame found in the stream.
struct board_event {
    frame command{};
    // Set when the board answers this frame: it is for this board and its
    // code is one the board knows.
    std::optional<frame> answer;
};

class board_model {
public:
    // With no address the board answers every address, as a lone board on
    // its own cable may as well.
    explicit board_model(std::optional<std::uint8_t> address = std::nullopt);

    // Bytes in any pieces; returns one event per valid command frame that
    // the piece completed.
    std::vector<board_event> feed(const std::uint8_t* bytes, std::size_t count);
    std::vector<board_event> feed(const std::vector<std::uint8_t>& bytes)
    {
        return feed(bytes.data(), bytes.size());
    }

    // Relay i at element i - 1, true when it is on.
    const std::array<bool, relay_count>& relays() const { return relays_; }
    // The same as status codes: 1 off, 2 on.
    std::array<std::uint8_t, relay_count> statuses() const;

    std::optional<std::uint8_t> address() const { return address_; }

    // Forgets a partly received frame, as after the cable is pulled.
    void reset_stream() { bytes_held_ = 0; }
    // Bytes held while waiting for the rest of a frame; never more than 7.
    std::size_t bytes_held() const { return bytes_held_; }

private:
    std::optional<board_event> take_frame();

    std::optional<std::uint8_t> address_;
    std::array<bool, relay_count> relays_{};
    std::size_t bytes_held_ = 0;
    frame pending{};
};

}  // namespace relay
