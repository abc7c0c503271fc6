#pragma once
// The system's serial ports as Qt lists them, with any ports of our own
// (the built-in simulated board) numbered ahead of them.

#include "serial/port_catalog.h"

namespace relay {

class system_port_catalog : public port_catalog {
public:
    std::vector<port_entry> ports() const override;

    // Ports listed before the system's, in the order added.
    void add_leading_port(port_entry entry) { leading.push_back(std::move(entry)); }

private:
    std::vector<port_entry> leading;
};

}  // namespace relay
