#pragma once
// The one serial port, reduced to the effects the panel relies on. The real
// port (qt_serial_device) and the tests' fakes both implement it.

#include "protocol/frame.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace relay {

struct open_result {
    bool ok = false;
    std::string reason;  // plain words for the operator when !ok
    // When other programs hold the port, how many (one that cannot be named
    // counts as one). The reason then names them and stops there: what to
    // do about them depends on the program that tells the operator.
    std::size_t holders = 0;

    static open_result success() { return {true, {}, 0}; }
    static open_result failure(std::string why, std::size_t holders = 0) { return {false, std::move(why), holders}; }
};

class serial_device {
public:
    class listener {
    public:
        // New bytes are waiting to be read; how many make a frame is the
        // link's business, not the device's.
        virtual void bytes_received() = 0;
        // The open port failed (unplugged, far end closed, I/O error). The
        // device has already closed itself when this is called.
        virtual void link_lost(const std::string& reason) = 0;

    protected:
        ~listener() = default;
    };

    virtual ~serial_device() = default;

    virtual void set_listener(listener* l) = 0;

    // Opens the device at 9600 baud, 8 data bits, no parity, one stop bit,
    // no flow control.
    virtual open_result open(const std::string& device_path) = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;

    // Throws away every received byte not yet read.
    virtual void discard_input() = 0;
    // Puts the 8 bytes on the line unchanged and in order.
    virtual bool write(const frame& bytes) = 0;

    virtual std::size_t bytes_waiting() const = 0;
    // The next waiting byte, 0 to 255, or -1 when none waits.
    virtual int read_byte() = 0;
    // Up to count waiting bytes into `into`, in order; how many were read.
    // A device that can hand over several at once overrides this: the link
    // reads a whole frame on every answer.
    virtual std::size_t read_bytes(std::uint8_t* into, std::size_t count)
    {
        std::size_t got = 0;
        for (; got < count; ++got) {
            const int value = read_byte();
            if (value < 0)
                break;
            into[got] = static_cast<std::uint8_t>(value);
        }
        return got;
    }
};

}  // namespace relay
