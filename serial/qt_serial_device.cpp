#include "serial/qt_serial_device.h"

#include <QFileInfo>

#include <cerrno>
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
    connect(&port_, &QSerialPort::readyRead, this, &qt_serial_device::on_ready_read);
    connect(&port_, &QSerialPort::errorOccurred, this, &qt_serial_device::on_error);
}

qt_serial_device::~qt_serial_device()
{
    listener_ = nullptr;
    port_.close();
}

open_result qt_serial_device::open(const std::string& device_path)
{
    if (port_.isOpen())
        return open_result::failure("A port is already open.");
    port_.setPortName(QString::fromStdString(device_path));
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(read_buffer_bytes);
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto reason = describe_open_failure(device_path, port_.error(), port_.errorString().toStdString());
        port_.clearError();
        return open_result::failure(reason);
    }
    port_.clearError();
    return open_result::success();
}

void qt_serial_device::close()
{
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

bool qt_serial_device::is_open() const { return port_.isOpen(); }

void qt_serial_device::discard_input()
{
    if (!port_.isOpen())
        return;
    // clear() empties the driver's queue; readAll() whatever Qt already holds.
    port_.clear(QSerialPort::Input);
    port_.readAll();
}

bool qt_serial_device::write(const frame& bytes)
{
    if (!port_.isOpen())
        return false;
    const auto written = port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    // Hand the bytes to the driver now instead of on the next loop turn.
    port_.flush();
    return written == static_cast<qint64>(bytes.size());
}

std::size_t qt_serial_device::bytes_waiting() const
{
    return port_.isOpen() ? static_cast<std::size_t>(port_.bytesAvailable()) : 0;
}

int qt_serial_device::read_byte()
{
    char byte = 0;
    if (!port_.isOpen() || port_.read(&byte, 1) != 1)
        return -1;
    return static_cast<unsigned char>(byte);
}

void qt_serial_device::on_ready_read()
{
    if (in_ready_read_)
        return;
    in_ready_read_ = true;
    // One report per 8 waiting bytes; stop when the listener leaves them.
    std::size_t waiting = bytes_waiting();
    while (listener_ && waiting >= receive_threshold) {
        listener_->bytes_received();
        const std::size_t left = bytes_waiting();
        if (left >= waiting)
            break;
        waiting = left;
    }
    in_ready_read_ = false;
}

void qt_serial_device::on_error(QSerialPort::SerialPortError error)
{
    if (!means_lost_link(error) || !port_.isOpen())
        return;
    const auto reason = "The port " + port_.portName().toStdString() + " stopped working (" +
                        port_.errorString().toStdString() + ").";
    // A port whose device is gone keeps raising ReadError in a tight loop
    // until it is closed, so close it before anything else happens.
    port_.close();
    port_.clearError();
    if (listener_)
        listener_->link_lost(reason);
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
        return port + " is in use by another program. Close that program and connect again.";
    }
    case QSerialPort::OpenError:
        return port + " is already open.";
    default:
        return port + " cannot be opened: " + qt_message + ".";
    }
}

}  // namespace relay
