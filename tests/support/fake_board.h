#pragma once
// One board core on an in-memory port, stepped tick by tick: the device,
// its numbered ports, the link and the core.

#include "fake_serial_device.h"

#include "core/board_core.h"
#include "serial/serial_link.h"

#include <array>
#include <cstdint>

namespace relay::testing {

struct fake_board {
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            board.tick();
    }

    // The board answers with these relay statuses (1 off, 2 on).
    void answer(std::array<std::uint8_t, relay_count> statuses, std::uint8_t address = 1)
    {
        device.arrive(encode_status(address, code_status_query, statuses));
    }

    const frame& last_sent() const { return device.written.back(); }

    fake_serial_device device;
    fake_port_catalog catalog;  // port 1 /dev/ttyUSB0, port 2 /dev/ttyS0
    serial_link link{device, catalog};
    board_core board{link};
};

inline frame query_to(std::uint8_t address) { return encode_command(address, status_query); }

}  // namespace relay::testing
