#pragma once
// A measuring window for counts and rates: lets the event loop, and with it
// the poll ticks and every client, run for a while. Not a wait for something
// to happen; that is what QTRY_* and QSignalSpy::wait are for.

#include <QSignalSpy>
#include <QTimer>

namespace relay::testing {

inline bool run_event_loop_for(int ms)
{
    QTimer window;
    window.setSingleShot(true);
    QSignalSpy over(&window, &QTimer::timeout);
    window.start(ms);
    return over.wait(ms + 5000);
}

}  // namespace relay::testing
