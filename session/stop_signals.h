#pragma once
// SIGTERM and SIGINT as events of the Qt loop, read from a signalfd, so
// that stopping runs as ordinary code: no handler interrupts a tick half
// way. relayd and the panel both stop this way, closing their ports and
// removing their sockets. block_stop_signals() must run before any thread
// starts, so that every thread inherits the mask and no signal lands
// elsewhere.

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace relay {

void block_stop_signals();

class stop_signals : public QObject {
    Q_OBJECT
public:
    // Throws std::system_error when the signalfd cannot be had.
    explicit stop_signals(QObject* parent = nullptr);
    ~stop_signals() override;

signals:
    // "SIGTERM" or "SIGINT".
    void received(const QString& name);

private:
    void readable();

    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

}  // namespace relay
