#pragma once
// The serial device over Qt Serial Port.

#include "serial/serial_device.h"

#include <QObject>
#include <QSerialPort>

namespace relay {

class qt_serial_device : public QObject, public serial_device {
    Q_OBJECT
public:
    // How a frame reaches the driver. Straight to the descriptor is what
    // the programs use; the other two exist so that the benchmark can
    // weigh it against Qt's own write path.
    enum class write_path {
        direct,          // write(2) on the port's descriptor, Qt's buffer only for what is left
        qt_then_flush,   // QSerialPort::write, then flush()
        qt,              // QSerialPort::write; Qt sends on the next turn of the loop
    };

    explicit qt_serial_device(QObject* parent = nullptr);
    ~qt_serial_device() override;

    void set_listener(listener* l) override { receiver = l; }
    open_result open(const std::string& device_path) override;
    void close() override;
    bool is_open() const override;
    void discard_input() override;
    bool write(const frame& bytes) override;
    std::size_t bytes_waiting() const override;
    int read_byte() override;
    void set_write_path(write_path path) { writing = path; }
    std::size_t read_bytes(std::uint8_t* into, std::size_t count) override;

private:
    void on_ready_read();
    void on_error(QSerialPort::SerialPortError error);
    void lose_link(const std::string& why);
    void keep_reading();

    // A child as well as a member: it follows the device to another thread,
    // and tests reach its notifiers through findChildren().
    QSerialPort port;
    listener* receiver = nullptr;
    // The device as the caller named it, for messages and for checking that
    // its node still leads to the device that is open.
    std::string opened_path;
    int empty_reads = 0;
    write_path writing = write_path::direct;
};

// Why an open failed, in words an operator can act on. Qt reports a busy
// port and a forbidden one with the same code; access(2) tells them apart.
open_result describe_open_failure(const std::string& device_path, QSerialPort::SerialPortError error,
                                  const std::string& qt_message);

}  // namespace relay
