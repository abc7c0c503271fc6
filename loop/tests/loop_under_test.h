#pragma once
// Either loop with the way to turn it, for tests that must hold on relayd's
// epoll loop and on the window's Qt loop alike. The Qt one needs a
// QCoreApplication in main().

#include "loop/epoll_loop.h"
#include "loop/qt_io_loop.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace relay::testing {

using steady = std::chrono::steady_clock;

struct loop_under_test {
    virtual ~loop_under_test() = default;
    virtual io_loop& loop() = 0;
    virtual void turn() = 0;
    // The watches the loop holds, where it tells.
    virtual std::optional<std::size_t> watch_count() const { return std::nullopt; }

    // Turns until done() or the deadline; true when done.
    bool turn_until(const std::function<bool()>& done,
                    std::chrono::milliseconds deadline = std::chrono::milliseconds{2000})
    {
        const auto until = steady::now() + deadline;
        while (!done()) {
            if (steady::now() > until)
                return false;
            turn();
        }
        return true;
    }
    void turn_for(std::chrono::milliseconds span)
    {
        const auto until = steady::now() + span;
        turn_until([&] { return steady::now() >= until; }, span + std::chrono::seconds{1});
    }
};

struct epoll_under_test : loop_under_test {
    epoll_loop l;
    io_loop& loop() override { return l; }
    void turn() override { l.run_once(std::chrono::milliseconds{5}); }
    std::optional<std::size_t> watch_count() const override { return l.watch_count(); }
};

struct qt_under_test : loop_under_test {
    qt_io_loop l;
    io_loop& loop() override { return l; }
    void turn() override { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5); }
};

// "epoll" or "qt".
inline std::unique_ptr<loop_under_test> make_loop_under_test(const std::string& name)
{
    if (name == "epoll")
        return std::make_unique<epoll_under_test>();
    return std::make_unique<qt_under_test>();
}

}  // namespace relay::testing
