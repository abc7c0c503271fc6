#pragma once
// The panel's 100 ms heartbeat. Qt's timers count in whole milliseconds
// and wake up to a millisecond and a half either side of the period; on
// Linux a kernel timer (timerfd) keeps each tick within a few tenths of a
// millisecond of its place, with no drift. Elsewhere it is a precise QTimer.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class QSocketNotifier;

namespace relay {

class poll_ticker : public QObject {
    Q_OBJECT
public:
    explicit poll_ticker(std::chrono::milliseconds period, QObject* parent = nullptr);
    ~poll_ticker() override;

    // The first tick comes one period after start().
    void start();
    void stop();
    bool is_active() const { return active; }

signals:
    void timeout();

private:
    void on_expired();

    std::chrono::milliseconds period;
    bool active = false;
    int timer_fd = -1;
    std::unique_ptr<QSocketNotifier> expiry;
    QTimer fallback;
};

}  // namespace relay
