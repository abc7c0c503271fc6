// Random byte streams, cut into random pieces and interleaved with ticks,
// go through the receive path into the panel logic. Whatever arrives, an
// indicator changes only for a valid status frame, the watchdog stays in
// range, and nothing the line delivers is kept beyond one frame.

#include "fake_panel.h"
#include "panel/panel_controller.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

namespace {

using namespace relay;

struct shown {
    std::array<std::string, relay_count> captions;
    std::array<std::uint32_t, relay_count> colours;
};

shown indicators(const panel_controller& logic)
{
    shown s;
    for (int i = 0; i < relay_count; ++i) {
        s.captions[i] = logic.controls().Label6[i].caption;
        s.colours[i] = logic.controls().Label6[i].colour;
    }
    return s;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    relay::testing::fake_panel panel;
    auto& device = panel.device;
    auto& logic = panel.logic;
    logic.Form_Load();
    logic.open_comm_Click();
    require(device.is_open());

    std::deque<std::uint8_t> shadow;
    std::size_t at = 0;
    while (at < size) {
        // A control byte: low nibble is the piece length, bit 4 a tick first,
        // bit 5 a relay click, bit 6 an address edit.
        const std::uint8_t control = data[at++];
        if (control & 0x10)
            logic.Timer1_Timer();
        if (control & 0x20)
            logic.Label6_Click(1 + (control & 0x03));
        if (control & 0x40)
            logic.set_add_text(std::string(1, static_cast<char>('0' + (control & 0x07))));
        const std::size_t length = std::min<std::size_t>(control & 0x0F, size - at);
        std::vector<std::uint8_t> piece(data + at, data + at + length);
        at += length;

        // What the panel should show once the completed frames are read,
        // worked out here independently of the panel.
        while (shadow.size() > device.bytes_waiting())
            shadow.pop_front();
        auto expected = indicators(logic);
        shadow.insert(shadow.end(), piece.begin(), piece.end());
        bool any_valid = false;
        while (shadow.size() >= frame_size) {
            frame f{};
            for (auto& byte : f) {
                byte = shadow.front();
                shadow.pop_front();
            }
            if (!is_valid_status(f))
                continue;
            any_valid = true;
            for (int i = 0; i < relay_count; ++i) {
                if (f[3 + i] == status_off)
                    expected.captions[i] = "off", expected.colours[i] = colour_red;
                else if (f[3 + i] == status_on)
                    expected.captions[i] = "on", expected.colours[i] = colour_green;
            }
        }
        device.arrive(piece);
        const auto after = indicators(logic);
        require(after.captions == expected.captions && after.colours == expected.colours);
        if (any_valid)
            require(logic.alive_count() == watchdog_reload);
        require(logic.alive_count() >= 0 && logic.alive_count() <= watchdog_reload);
        // The receive path reads whole frames as soon as they are complete.
        require(device.bytes_waiting() < frame_size);
        for (int i = 0; i < relay_count; ++i) {
            const auto& caption = after.captions[i];
            require(caption == "on" || caption == "off" || caption == "state");
        }
    }
    return 0;
}
