#pragma once
// Port numbers as the operator sees them. Number n is the n-th serial port
// of the system, USB adapters first, so that the default 1 reaches the one
// board that is plugged in. Text that is not a number names a device.

#include <optional>
#include <string>
#include <vector>

namespace relay {

struct port_entry {
    std::string path;         // what open() takes: "/dev/ttyUSB0", "COM3"
    std::string description;  // the adapter's own words, may be empty
};

class port_catalog {
public:
    virtual ~port_catalog() = default;
    // The numbered ports, port 1 first.
    virtual std::vector<port_entry> ports() const = 0;
};

// Puts USB adapters (ttyUSB*, ttyACM*) ahead of the rest, each group in
// natural name order (ttyUSB2 before ttyUSB10).
std::vector<port_entry> order_ports(std::vector<port_entry> ports);

struct resolved_port {
    std::optional<port_entry> port;  // set when the text names a port
    std::string reason;              // plain words when it does not
};

// Turns the port field's text into a device to open.
resolved_port resolve_port(const std::string& text, const port_catalog& catalog);

// "1: /dev/ttyUSB0 (CP2102 USB to UART)" lines for a tooltip.
std::string describe_ports(const port_catalog& catalog);

}  // namespace relay
