#pragma once
// An io_loop on the Qt event loop of the thread it was made on, for the
// window's side: its session serves the control socket on the same loop
// as its widgets' or its logic thread's events.

#include "loop/io_loop.h"

#include <QObject>

#include <memory>
#include <unordered_map>

class QSocketNotifier;
class QTimer;

namespace relay {

class qt_io_loop final : public io_loop {
public:
    qt_io_loop();
    ~qt_io_loop() override;

    watch_id add_watch(int fd, direction way, handler on_ready) override;
    void enable_watch(watch_id id, bool enabled) override;
    void remove_watch(watch_id id) override;
    timer_id add_timer(std::chrono::nanoseconds after, std::chrono::nanoseconds every, handler on_expiry) override;
    void remove_timer(timer_id id) override;
    void post(handler work) override;

private:
    struct timer;
    void expired(timer_id id);

    // Posted work and the timers' signals reach the loop through it, and
    // nothing posted runs once it is gone.
    QObject context;
    std::uint64_t next_id = 1;
    std::unordered_map<watch_id, std::unique_ptr<QSocketNotifier>> watches;
    std::unordered_map<timer_id, std::unique_ptr<timer>> timers;
};

}  // namespace relay
