#include "serial/serial_link.h"

namespace relay {

serial_link::serial_link(serial_device& device, const port_catalog& catalog) : device(device), catalog_(catalog)
{
    device.set_listener(this);
}

serial_link::~serial_link() { device.set_listener(nullptr); }

bool serial_link::port_is_open() const { return device.is_open(); }

open_result serial_link::open_port(const std::string& port_text)
{
    const auto resolved = resolve_port(port_text, catalog_);
    if (!resolved.port)
        return open_result::failure(resolved.reason);
    auto result = device.open(resolved.port->path);
    if (result.ok)
        port_ = *resolved.port;
    return result;
}

void serial_link::close_port() { device.close(); }

send_result serial_link::send_frame(std::uint8_t address, const command_tuple& command)
{
    if (!device.is_open())
        return send_result::port_closed;
    tx_frame_ = encode_command(address, command);
    // Whatever is left of an earlier answer must never mix with this one's.
    device.discard_input();
    return device.write(tx_frame_) ? send_result::sent : send_result::write_failed;
}

void serial_link::read_frames()
{
    // A receiver may close the port or discard input while it handles a
    // frame; the count is asked afresh before every frame.
    while (device.is_open() && device.bytes_waiting() >= frame_size) {
        frame rx{};
        if (device.read_bytes(rx.data(), rx.size()) != rx.size())
            return;
        if (receiver)
            receiver->status_frame_received(rx);
    }
}

void serial_link::bytes_received() { read_frames(); }

void serial_link::link_lost(const std::string& reason)
{
    if (receiver)
        receiver->link_lost(reason);
}

}  // namespace relay
