#pragma once
// A serial port read and written through its descriptor directly, on an
// io_loop: relayd's ports. One read a wake-up, straight into a buffer the
// link takes whole frames from; one write a frame. The window keeps its
// Qt port (qt_serial_device.h); both honour the same lock files, so that
// neither opens a port the other holds, even as root.

#include "loop/io_loop.h"
#include "serial/serial_device.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>


namespace relay {

class port_lock;

class termios_device final : public serial_device {
public:
    explicit termios_device(io_loop& loop);
    ~termios_device() override;
    termios_device(const termios_device&) = delete;
    termios_device& operator=(const termios_device&) = delete;

    void set_listener(listener* l) override { receiver = l; }
    open_result open(const std::string& device_path) override;
    void close() override;
    bool is_open() const override { return fd >= 0; }
    void discard_input() override;
    bool write(const frame& bytes) override;
    std::size_t bytes_waiting() const override { return end - start; }
    int read_byte() override;
    std::size_t read_bytes(std::uint8_t* into, std::size_t count) override;

private:
    void readable();
    void writable();
    void lose_link(const std::string& why);

    io_loop& loop;
    listener* receiver = nullptr;
    int fd = -1;
    std::string opened_path;
    std::unique_ptr<port_lock> lock;
    fd_watch reading;
    fd_watch writing;
    // Received and not yet taken, from start to end.
    std::array<std::uint8_t, 4096> received{};
    std::size_t start = 0;
    std::size_t end = 0;
    // What the driver would not take at once.
    std::string unsent;
    int empty_reads = 0;
};

}  // namespace relay
