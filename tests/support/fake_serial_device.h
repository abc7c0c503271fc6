#pragma once
// A serial device that keeps everything in memory: what was written, what
// was discarded, and bytes the test makes "arrive".

#include "serial/port_catalog.h"
#include "serial/serial_device.h"

#include <deque>
#include <string>
#include <vector>

namespace relay::testing {

class fake_serial_device : public serial_device {
public:
    void set_listener(listener* l) override { receiver = l; }

    open_result open(const std::string& device_path) override;
    void close() override;
    bool is_open() const override { return open_now; }
    void discard_input() override;
    bool write(const frame& bytes) override;
    std::size_t bytes_waiting() const override { return incoming.size(); }
    int read_byte() override;

    // Bytes arrive from the board; the listener hears of every 8 waiting.
    void arrive(const std::vector<std::uint8_t>& bytes);
    void arrive(const frame& bytes) { arrive(std::vector<std::uint8_t>(bytes.begin(), bytes.end())); }
    // The device goes away while open.
    void unplug(const std::string& reason = "The port went away.");

    std::vector<frame> written;
    std::vector<std::string> opened_paths;
    int discards = 0;
    std::size_t bytes_discarded = 0;
    // Paths whose open fails, with the reason given and, for a port held by
    // other programs, how many.
    struct refusal {
        std::string path;
        std::string reason;
        std::size_t holders = 0;
    };
    std::vector<refusal> refuse;
    bool write_fails = false;

private:
    listener* receiver = nullptr;
    bool open_now = false;
    std::deque<std::uint8_t> incoming;
};

// A fixed list of numbered ports.
class fake_port_catalog : public port_catalog {
public:
    std::vector<port_entry> ports() const override { return entries; }
    std::vector<port_entry> entries{{"/dev/ttyUSB0", "USB serial adapter"}, {"/dev/ttyS0", {}}};
};

}  // namespace relay::testing
