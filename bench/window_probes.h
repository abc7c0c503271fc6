#pragma once
// What the window benchmarks watch the real window with: its event loop run
// for a span as app.exec() runs it, and the moments an indicator is painted
// with a new caption.

#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <vector>

namespace relay::bench {

using steady = std::chrono::steady_clock;

inline double ms_between(steady::time_point a, steady::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Lets the panel run as it would under app.exec(): the loop sleeps between
// events, so the CPU figures are the program's and not a polling loop's.
inline void run_for(std::chrono::milliseconds span)
{
    QEventLoop loop;
    QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Records when an indicator is painted with a caption it did not have at
// its previous paint: the moment a change reaches the screen.
class paint_watch : public QObject {
public:
    explicit paint_watch(QLabel* label) : label(label) { label->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == label && event->type() == QEvent::Paint && label->text() != last_text) {
            last_text = label->text();
            changes.push_back(steady::now());
        }
        return false;
    }
    const std::vector<steady::time_point>& taken() const { return changes; }

private:
    QLabel* label;
    QString last_text;
    std::vector<steady::time_point> changes;
};

}  // namespace relay::bench
