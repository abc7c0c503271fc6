#pragma once
// The panel logic on an in-memory port: the device, its numbered ports, the
// link, the board core and the window's logic presenting it, with a view
// that records what it is told.

#include "fake_board.h"
#include "recording_view.h"

#include "panel/panel_controller.h"

namespace relay::testing {

struct fake_panel : fake_board {
    fake_panel() { logic.add_view(&view); }
    ~fake_panel() { logic.remove_view(&view); }
    fake_panel(const fake_panel&) = delete;
    fake_panel& operator=(const fake_panel&) = delete;

    panel_controller logic{board};
    recording_view view;
};

}  // namespace relay::testing
