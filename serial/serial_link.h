#pragma once
// The panel's one connection to the board: opens the port by number or
// name, sends one command frame per call after discarding unread input, and
// hands every 8 received bytes on as one frame.

#include "protocol/frame.h"
#include "serial/port_catalog.h"
#include "serial/serial_device.h"

#include <string>

namespace relay {

enum class send_result {
    sent,
    port_closed,   // no open port: nothing sent
    write_failed,  // the device refused the bytes
};

class serial_link : private serial_device::listener {
public:
    class events {
    public:
        virtual void status_frame_received(const frame& rx) = 0;
        virtual void link_lost(const std::string& reason) = 0;

    protected:
        ~events() = default;
    };

    serial_link(serial_device& device, const port_catalog& catalog);
    ~serial_link();
    serial_link(const serial_link&) = delete;
    serial_link& operator=(const serial_link&) = delete;

    void set_events(events* e) { receiver = e; }

    bool port_is_open() const;
    // Resolves the text (number or device name) and opens that port.
    open_result open_port(const std::string& port_text);
    void close_port();

    // Encodes the command for the board at this address, discards unread
    // input and writes the 8 bytes.
    send_result send_frame(std::uint8_t address, const command_tuple& command);

    // Reads every 8 waiting bytes as one frame and hands each on; fewer than
    // 8 stay waiting for the rest, or until the next send discards them.
    void read_frames();

    const frame& tx_frame() const { return tx_frame_; }
    // The device of the open port, or of the last one opened.
    const port_entry& port() const { return port_; }
    const port_catalog& catalog() const { return catalog_; }

private:
    void bytes_received() override;
    void link_lost(const std::string& reason) override;

    serial_device& device;
    events* receiver = nullptr;
    const port_catalog& catalog_;
    port_entry port_;
    frame tx_frame_;
};

}  // namespace relay
