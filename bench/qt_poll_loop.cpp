#include "bench/qt_poll_loop.h"

#include "bench/cpu_clock.h"
#include "protocol/frame.h"
#include "session/poll_ticker.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>

namespace relay::bench {
void qt_poll_loop::run(const std::string& device, std::chrono::milliseconds length)
{
    std::unique_ptr<QThread> thread(QThread::create([this, device, length] {
        QSerialPort port(QString::fromStdString(device));
        if (!port.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "%s: %s\n", device.c_str(), qPrintable(port.errorString()));
            return;
        }
        port.setBaudRate(QSerialPort::Baud9600);
        const auto query = encode_command(1, status_query);
        poll_ticker ticker(std::chrono::milliseconds(100));
        QObject::connect(&ticker, &poll_ticker::timeout, &port, [&] {
            port.clear(QSerialPort::Input);
            if (::write(port.handle(), query.data(), query.size()) == static_cast<ssize_t>(query.size()))
                ++ticks_;
        });
        QObject::connect(&port, &QSerialPort::readyRead, &port, [&] {
            while (port.bytesAvailable() >= static_cast<qint64>(frame_size)) {
                frame answer{};
                port.read(reinterpret_cast<char*>(answer.data()), frame_size);
                if (is_valid_status(answer))
                    ++valid_answers_;
            }
        });
        QEventLoop loop;
        QTimer::singleShot(length, &loop, &QEventLoop::quit);
        const double cpu0 = cpu_clock_seconds();
        ticker.start();
        loop.exec();
        cpu_seconds_ = cpu_clock_seconds() - cpu0;
    }));
    thread->start();
    thread->wait();
}

}  // namespace relay::bench
