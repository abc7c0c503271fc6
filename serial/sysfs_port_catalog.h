#pragma once
// The system's serial ports as the kernel lists them under /sys/class/tty,
// in plain C++, for relayd: the terminals behind a device (a USB adapter, a
// UART), leaving out the virtual consoles and the 8250 slots that have no
// UART behind them, as the window's Qt list does. A USB adapter is
// described by its product and maker.

#include "serial/port_catalog.h"

#include <string>

namespace relay {

class sysfs_port_catalog : public port_catalog {
public:
    explicit sysfs_port_catalog(std::string tty_class = "/sys/class/tty", std::string dev = "/dev")
        : tty_class(std::move(tty_class)), dev(std::move(dev))
    {
    }
    std::vector<port_entry> ports() const override;

private:
    std::string tty_class;
    std::string dev;
};

}  // namespace relay
