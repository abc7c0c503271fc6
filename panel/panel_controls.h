#pragma once
// The window's controls as the panel logic sees them: captions, colours,
// enabled states and texts. The window paints these; it decides nothing.

#include "core/relay_state.h"
#include "protocol/frame.h"

#include <array>
#include <cstdint>
#include <string>

namespace relay {

// Colours in the form 0x00BBGGRR.
constexpr std::uint32_t colour_black = 0;
constexpr std::uint32_t colour_red = 255;
constexpr std::uint32_t colour_green = 65280;

inline const std::string caption_state = "state";
inline const std::string caption_on = "on";
inline const std::string caption_off = "off";
inline const std::string caption_connect = "connect";
inline const std::string caption_disconnect = "disconnect";

constexpr int spin_minimum = 0;
constexpr int spin_maximum = 15;

struct button_state {
    std::string caption;
    bool enabled = true;
};

struct label_state {
    std::string caption;
    bool enabled = true;
    std::uint32_t colour = colour_black;
    std::string tooltip;
};

// An indicator's caption and colour for what the board last reported of
// its relay: the one rule, whether the window polls the board or sees it
// through its owner.
inline void show_relay_state(label_state& indicator, relay_state state)
{
    switch (state) {
    case relay_state::on:
        indicator.caption = caption_on;
        indicator.colour = colour_green;
        return;
    case relay_state::off:
        indicator.caption = caption_off;
        indicator.colour = colour_red;
        return;
    case relay_state::unknown:
        break;
    }
    indicator.caption = caption_state;
    indicator.colour = colour_black;
}

struct text_state {
    std::string text;
    bool enabled = true;
};

struct spin_state {
    int value = 1;
    bool enabled = true;
};

struct timer_state {
    bool running = false;
};

// Per-relay arrays hold relay i at element i - 1.
struct panel_controls {
    std::array<button_state, relay_count> open{{{"on", false}, {"on", false}, {"on", false}, {"on", false}}};
    std::array<button_state, relay_count> close{{{"off", false}, {"off", false}, {"off", false}, {"off", false}}};
    std::array<label_state, relay_count> Label6{
        {{"state", true, colour_black, {}}, {"state", true, colour_black, {}}, {"state", true, colour_black, {}},
         {"state", true, colour_black, {}}}};
    button_state openall{"relay all", false};
    button_state closeall{"relay off", false};
    button_state open_comm{"connect", true};
    text_state add{"1", true};
    text_state chuankou_num{"1", true};
    spin_state VScroll1;
    spin_state VScroll2;
    timer_state Timer1;
    // Through whom the window sees the board ("through relayd, pid 1234")
    // while another program owns the port; empty while the window owns it.
    std::string seen_through;
};

// Equal when the window would show the same: a view on another thread
// wakes the window only when this is false.
inline bool operator==(const button_state& a, const button_state& b)
{
    return a.caption == b.caption && a.enabled == b.enabled;
}
inline bool operator==(const label_state& a, const label_state& b)
{
    return a.caption == b.caption && a.enabled == b.enabled && a.colour == b.colour && a.tooltip == b.tooltip;
}
inline bool operator==(const text_state& a, const text_state& b) { return a.text == b.text && a.enabled == b.enabled; }
inline bool operator==(const spin_state& a, const spin_state& b) { return a.value == b.value && a.enabled == b.enabled; }
inline bool operator==(const timer_state& a, const timer_state& b) { return a.running == b.running; }
inline bool operator==(const panel_controls& a, const panel_controls& b)
{
    return a.open == b.open && a.close == b.close && a.Label6 == b.Label6 && a.openall == b.openall &&
           a.closeall == b.closeall && a.open_comm == b.open_comm && a.add == b.add &&
           a.chuankou_num == b.chuankou_num && a.VScroll1 == b.VScroll1 && a.VScroll2 == b.VScroll2 &&
           a.Timer1 == b.Timer1 && a.seen_through == b.seen_through;
}
}  // namespace relay
