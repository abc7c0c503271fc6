#include "serial/qt_serial_device.h"

#include "serial/device_presence.h"
#include "serial/open_failure.h"
#include "text/shown_text.h"


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

// Empty reads in a row, with no tick between, that a device may report
// before it counts as gone. One follows each discard that overtakes a read
// notification; a descriptor that keeps saying "readable" and delivers
// nothing would otherwise spin the event loop.
constexpr int empty_reads_tolerated = 8;

bool can_mean_lost_link(QSerialPort::SerialPortError error)
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

// Qt reports a failed read when read() returned nothing, with whatever
// errno an earlier call left; the device itself has to be asked.
bool is_read_failure(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
}

}  // namespace

qt_serial_device::qt_serial_device(QObject* parent) : QObject(parent), port(this)
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
        auto failure = describe_open_failure(device_path, port.error(), port.errorString().toStdString());
        port.clearError();
        return failure;
    }
    port.clearError();
    opened_path = device_path;
    empty_reads = 0;
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
    // clear() empties the driver's queue; skip() whatever Qt already holds,
    // without readAll()'s copy of it (usually nothing) on every tick.
    port.clear(QSerialPort::Input);
    if (const auto held = port.bytesAvailable(); held > 0)
        port.skip(held);
    empty_reads = 0;
    // Qt's buffer is empty now; had it been full, Qt stopped reading.
    keep_reading();
}

void qt_serial_device::keep_reading()
{
    // Qt stops watching the descriptor after a read that filled its buffer,
    // or that found nothing while errno still held EAGAIN, EIO or EBADF from
    // an earlier call: an empty tty returns 0 and sets no errno, and a full
    // non-blocking pipe or socket on the same thread leaves EAGAIN (such as
    // libmosquitto's wake-up socket pair while relayd publishes a flood of
    // refusals). Qt watches again only once read() finds its buffer empty,
    // and the link never asks for more than readyRead announced: without
    // this the port would never be read again, however well the board
    // answers. Setting the buffer's size starts the watching again, and
    // does nothing while it goes on.
    port.setReadBufferSize(read_buffer_bytes);
}

bool qt_serial_device::write(const frame& bytes)
{
    if (!port.isOpen())
        return false;
    const char* data = reinterpret_cast<const char*>(bytes.data());
    qint64 left = static_cast<qint64>(bytes.size());
#ifndef _WIN32
    // The driver's queue always has room for 8 bytes, so they go to it
    // straight away. Through Qt's write buffer each frame also switches its
    // write notifier on and off: one more turn of the event loop and poll(2)
    // a tick even with flush(), two without. Bytes Qt still holds from an
    // earlier frame go first: a direct write would overtake them.
    ssize_t written = 0;
    if (writing == write_path::direct && port.bytesToWrite() == 0) {
        do {
            written = ::write(port.handle(), data, static_cast<std::size_t>(left));
        } while (written < 0 && errno == EINTR);
    }
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        const std::string error = std::strerror(errno);
        lose_link(device_gone_reason(static_cast<int>(port.handle()), opened_path).value_or(error));
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
    if (writing != write_path::qt)
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

std::size_t qt_serial_device::read_bytes(std::uint8_t* into, std::size_t count)
{
    if (!port.isOpen())
        return 0;
    const auto got = port.read(reinterpret_cast<char*>(into), static_cast<qint64>(count));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

void qt_serial_device::on_ready_read()
{
    if (receiver && bytes_waiting() > 0)
        receiver->bytes_received();
}

void qt_serial_device::on_error(QSerialPort::SerialPortError error)
{
    if (!can_mean_lost_link(error) || !port.isOpen())
        return;
    if (const auto gone = device_gone_reason(static_cast<int>(port.handle()), opened_path)) {
        lose_link(*gone);
        return;
    }
    if (is_read_failure(error)) {
        if (++empty_reads <= empty_reads_tolerated) {
            // The input was discarded after the kernel had announced it:
            // nothing to read, and nothing wrong with the device, which
            // must still be read from.
            port.clearError();
            keep_reading();
            return;
        }
        lose_link("the device keeps reporting input that it never delivers");
        return;
    }
    lose_link(port.errorString().toStdString());
}

void qt_serial_device::lose_link(const std::string& why)
{
    const auto reason = "The port " + opened_path + " stopped working: " + why + ".";
    // A port whose device is gone keeps raising ReadError in a tight loop
    // until it is closed, so close it before anything else happens.
    port.close();
    port.clearError();
    if (receiver)
        receiver->link_lost(reason);
}

open_result describe_open_failure(const std::string& device_path, QSerialPort::SerialPortError error,
                                  const std::string& qt_message)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return describe_open_failure(device_path, open_failure::missing);
    case QSerialPort::PermissionError:
        return describe_open_failure(device_path, open_failure::refused);
    case QSerialPort::OpenError:
        return describe_open_failure(device_path, open_failure::already_open);
    default:
        return describe_open_failure(device_path, open_failure::other, qt_message);
    }
}

}  // namespace relay
