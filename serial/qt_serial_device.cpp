#include "serial/qt_serial_device.h"

#include "serial/port_holders.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace relay {
namespace {

// Enough for many frames of noise between two sends; the line carries about
// 96 bytes a tick at 9600 baud, but a pseudo-terminal has no such limit.
constexpr qint64 read_buffer_bytes = 4096;

bool means_lost_link(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    // DTR/RTS and similar calls fail this way on pseudo-terminals.
    case QSerialPort::UnsupportedOperationError:
    // Only the blocking waitFor* calls time out, and nothing here uses them.
    case QSerialPort::TimeoutError:
        return false;
    default:
        return true;
    }
}

}  // namespace

qt_serial_device::qt_serial_device(QObject* parent) : QObject(parent)
{
    connect(&port, &QSerialPort::readyRead, this, &qt_serial_device::on_ready_read);
    connect(&port, &QSerialPort::errorOccurred, this, &qt_serial_device::on_error);
}

qt_serial_device::~qt_serial_device()
{
    receiver = nullptr;
    port.close();
}

open_result qt_serial_device::open(const std::string& device_path)
{
    if (port.isOpen())
        return open_result::failure("A port is already open.");
    port.setPortName(QString::fromStdString(device_path));
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.setReadBufferSize(read_buffer_bytes);
    if (!port.open(QIODevice::ReadWrite)) {
        const auto reason = describe_open_failure(device_path, port.error(), port.errorString().toStdString());
        port.clearError();
        return open_result::failure(reason);
    }
    port.clearError();
    return open_result::success();
}

void qt_serial_device::close()
{
    if (port.isOpen())
        port.close();
    port.clearError();
}

bool qt_serial_device::is_open() const { return port.isOpen(); }

void qt_serial_device::discard_input()
{
    if (!port.isOpen())
        return;
    // clear() empties the driver's queue; readAll() whatever Qt already holds.
    port.clear(QSerialPort::Input);
    port.readAll();
}

bool qt_serial_device::write(const frame& bytes)
{
    if (!port.isOpen())
        return false;
    const char* data = reinterpret_cast<const char*>(bytes.data());
    qint64 left = static_cast<qint64>(bytes.size());
#ifndef _WIN32
    // The driver's queue always has room for 8 bytes, so they go to it
    // straight away. Through Qt's write buffer each frame would also switch
    // its write notifier on and off: two more wake-ups of the event loop on
    // every tick, most of the panel's CPU time while it polls. Bytes Qt
    // still holds from an earlier frame go first: a direct write would
    // overtake them.
    ssize_t written = 0;
    if (port.bytesToWrite() == 0) {
        do {
            written = ::write(port.handle(), data, static_cast<std::size_t>(left));
        } while (written < 0 && errno == EINTR);
    }
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        lose_link(std::strerror(errno));
        return false;
    }
    if (written > 0) {
        data += written;
        left -= written;
    }
    if (left == 0)
        return true;
#endif
    const auto queued = port.write(data, left);
    // Hand the bytes to the driver now instead of on the next loop turn.
    port.flush();
    return queued == left;
}

std::size_t qt_serial_device::bytes_waiting() const
{
    return port.isOpen() ? static_cast<std::size_t>(port.bytesAvailable()) : 0;
}

int qt_serial_device::read_byte()
{
    char byte = 0;
    if (!port.isOpen() || port.read(&byte, 1) != 1)
        return -1;
    return static_cast<unsigned char>(byte);
}

void qt_serial_device::on_ready_read()
{
    if (in_ready_read)
        return;
    in_ready_read = true;
    // One report per 8 waiting bytes; stop when the listener leaves them.
    std::size_t waiting = bytes_waiting();
    while (receiver && waiting >= receive_threshold) {
        receiver->bytes_received();
        const std::size_t left = bytes_waiting();
        if (left >= waiting)
            break;
        waiting = left;
    }
    in_ready_read = false;
}

void qt_serial_device::on_error(QSerialPort::SerialPortError error)
{
    if (!means_lost_link(error) || !port.isOpen())
        return;
    lose_link(port.errorString().toStdString());
}

void qt_serial_device::lose_link(const std::string& why)
{
    const auto reason = "The port " + port.portName().toStdString() + " stopped working (" + why + ").";
    // A port whose device is gone keeps raising ReadError in a tight loop
    // until it is closed, so close it before anything else happens.
    port.close();
    port.clearError();
    if (receiver)
        receiver->link_lost(reason);
}

std::string describe_open_failure(const std::string& device_path, QSerialPort::SerialPortError error,
                                  const std::string& qt_message)
{
    const std::string port = "The port " + device_path;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return port + " does not exist. Is the board's USB adapter plugged in?";
    case QSerialPort::PermissionError: {
#ifndef _WIN32
        const auto path = QFileInfo(QString::fromStdString(device_path)).absoluteFilePath().toLocal8Bit();
        const bool exists = QFileInfo::exists(QString::fromLocal8Bit(path));
        if (!exists)
            return port + " does not exist. Is the board's USB adapter plugged in?";
        if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return port + " cannot be opened: you have no permission to use it. Add your user to the 'dialout' "
                          "group (sudo usermod -aG dialout $USER), then log out and in again.";
#endif
        const auto holders = describe_holders(port_holders(device_path));
        if (!holders.empty())
            return port + " is in use by " + holders + ". Close that program and connect again.";
        return port + " is in use by another program. Close that program and connect again.";
    }
    case QSerialPort::OpenError:
        return port + " is already open.";
    default:
        return port + " cannot be opened: " + qt_message + ".";
    }
}

}  // namespace relay
