#include "loop/qt_io_loop.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

namespace relay {

namespace {

std::chrono::milliseconds whole_ms(std::chrono::nanoseconds span)
{
    return std::chrono::ceil<std::chrono::milliseconds>(span);
}

}  // namespace

// The QTimer is deleted later: a timer may go from within its own timeout.
struct qt_io_loop::timer {
    QTimer* clock = nullptr;
    std::chrono::nanoseconds every{};
    handler on_expiry;
};

qt_io_loop::qt_io_loop() = default;

qt_io_loop::~qt_io_loop()
{
    for (auto& [id, t] : timers)
        delete t->clock;
}

io_loop::watch_id qt_io_loop::add_watch(int fd, direction way, handler on_ready)
{
    const auto id = next_id++;
    auto notifier = std::make_unique<QSocketNotifier>(
        fd, way == direction::read ? QSocketNotifier::Read : QSocketNotifier::Write);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &context,
                     [on_ready = std::move(on_ready)] { on_ready(); });
    watches[id] = std::move(notifier);
    return id;
}

void qt_io_loop::enable_watch(watch_id id, bool enabled)
{
    if (const auto it = watches.find(id); it != watches.end())
        it->second->setEnabled(enabled);
}

void qt_io_loop::remove_watch(watch_id id)
{
    const auto it = watches.find(id);
    if (it == watches.end())
        return;
    it->second->setEnabled(false);
    // The notifier may be the one whose signal is running right now.
    it->second.release()->deleteLater();
    watches.erase(it);
}

io_loop::timer_id qt_io_loop::add_timer(std::chrono::nanoseconds after, std::chrono::nanoseconds every,
                                        handler on_expiry)
{
    const auto id = next_id++;
    auto t = std::make_unique<timer>();
    t->every = every;
    t->on_expiry = std::move(on_expiry);
    t->clock = new QTimer;
    t->clock->setTimerType(Qt::PreciseTimer);
    const bool repeats_from_start = every > std::chrono::nanoseconds::zero() && every == after;
    t->clock->setSingleShot(!repeats_from_start);
    QObject::connect(t->clock, &QTimer::timeout, &context, [this, id] { expired(id); });
    t->clock->start(whole_ms(after));
    timers[id] = std::move(t);
    return id;
}

void qt_io_loop::expired(timer_id id)
{
    const auto it = timers.find(id);
    if (it == timers.end())
        return;
    auto& t = *it->second;
    if (t.every > std::chrono::nanoseconds::zero()) {
        if (t.clock->isSingleShot()) {
            t.clock->setSingleShot(false);
            t.clock->start(whole_ms(t.every));
        }
        const auto on_expiry = t.on_expiry;
        on_expiry();
        return;
    }
    const auto on_expiry = std::move(t.on_expiry);
    remove_timer(id);
    on_expiry();
}

void qt_io_loop::remove_timer(timer_id id)
{
    const auto it = timers.find(id);
    if (it == timers.end())
        return;
    it->second->clock->stop();
    it->second->clock->disconnect();
    it->second->clock->deleteLater();
    timers.erase(it);
}

void qt_io_loop::post(handler work)
{
    QMetaObject::invokeMethod(&context, std::move(work), Qt::QueuedConnection);
}

}  // namespace relay
