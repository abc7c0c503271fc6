#pragma once
// The panel logic on an in-memory port: the device, its numbered ports, the
// link, the board core and the window's logic presenting it, with a view
// that records what it is told.

#include "fake_serial_device.h"
#include "recording_view.h"

#include "panel/panel_controller.h"
#include "serial/serial_link.h"

namespace relay::testing {

struct fake_panel {
    fake_panel() { logic.add_view(&view); }
    ~fake_panel() { logic.remove_view(&view); }
    fake_panel(const fake_panel&) = delete;
    fake_panel& operator=(const fake_panel&) = delete;

    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            logic.Timer1_Timer();
    }

    fake_serial_device device;
    fake_port_catalog catalog;  // port 1 /dev/ttyUSB0, port 2 /dev/ttyS0
    serial_link link{device, catalog};
    board_core board{link};
    panel_controller logic{board};
    recording_view view;
};

}  // namespace relay::testing
