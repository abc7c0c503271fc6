#include "session/poll_ticker.h"

#include <QSocketNotifier>

#include <cstdint>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace relay {

poll_ticker::poll_ticker(std::chrono::milliseconds period, QObject* parent) : QObject(parent), period(period)
{
#ifdef __linux__
    timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_fd >= 0) {
        expiry = std::make_unique<QSocketNotifier>(timer_fd, QSocketNotifier::Read);
        expiry->setEnabled(false);
        connect(expiry.get(), &QSocketNotifier::activated, this, &poll_ticker::on_expired);
        return;
    }
#endif
    // A coarse timer may stretch the period by up to 5 %.
    fallback.setTimerType(Qt::PreciseTimer);
    fallback.setInterval(period);
    connect(&fallback, &QTimer::timeout, this, &poll_ticker::timeout);
}

poll_ticker::~poll_ticker()
{
    expiry.reset();
#ifdef __linux__
    if (timer_fd >= 0)
        ::close(timer_fd);
#endif
}

void poll_ticker::start()
{
    active = true;
#ifdef __linux__
    if (timer_fd >= 0) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(period).count();
        itimerspec schedule{};
        schedule.it_interval.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        schedule.it_interval.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        schedule.it_value = schedule.it_interval;
        timerfd_settime(timer_fd, 0, &schedule, nullptr);
        expiry->setEnabled(true);
        return;
    }
#endif
    fallback.start();
}

void poll_ticker::stop()
{
    active = false;
#ifdef __linux__
    if (timer_fd >= 0) {
        const itimerspec disarmed{};
        timerfd_settime(timer_fd, 0, &disarmed, nullptr);
        expiry->setEnabled(false);
        return;
    }
#endif
    fallback.stop();
}

void poll_ticker::on_expired()
{
#ifdef __linux__
    // The count says how many periods passed since the last read. When the
    // loop was held up for several, one tick follows, as with QTimer: a
    // burst of frames would only crowd the line.
    std::uint64_t periods = 0;
    const auto got = ::read(timer_fd, &periods, sizeof periods);
    if (got != static_cast<ssize_t>(sizeof periods) || periods == 0 || !active)
        return;
#endif
    emit timeout();
}

}  // namespace relay
