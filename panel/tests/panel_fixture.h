#pragma once
// A panel on an in-memory port, stepped tick by tick.

#include "fake_serial_device.h"
#include "panel/panel_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace relay::testing {

struct recorded_messages : panel_controller::view {
    void controls_changed() override { ++changes; }
    void show_message(const std::string& title, const std::string& text) override
    {
        messages.emplace_back(title, text);
    }
    int changes = 0;
    std::vector<std::pair<std::string, std::string>> messages;
};

class panel_test : public ::testing::Test {
protected:
    panel_test()
    {
        logic.set_view(&window);
        logic.Form_Load();
    }

    void connect_panel()
    {
        logic.open_comm_Click();
        ASSERT_EQ(logic.controls().open_comm.caption, "disconnect");
    }

    // The board answers with these relay statuses.
    void answer(std::array<std::uint8_t, 4> statuses, std::uint8_t address = 1)
    {
        device.arrive(encode_status(address, 0, statuses));
    }

    const frame& last_sent() const { return device.written.back(); }

    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            logic.Timer1_Timer();
    }

    std::string indicator(int relay) const { return logic.controls().Label6[relay - 1].caption; }
    std::uint32_t indicator_colour(int relay) const { return logic.controls().Label6[relay - 1].colour; }

    fake_serial_device device;
    fake_port_catalog catalog;
    serial_link link{device, catalog};
    panel_controller logic{link};
    recorded_messages window;
};

// Byte by byte: GCC 12 misreads a range copy out of std::array as out of bounds.
inline std::vector<std::uint8_t> bytes_of(const frame& f, std::size_t from = 0, std::size_t to = frame_size)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = from; i < to; ++i)
        out.push_back(f[i]);
    return out;
}

inline frame query_to(std::uint8_t address) { return encode_command(address, status_query); }

}  // namespace relay::testing
