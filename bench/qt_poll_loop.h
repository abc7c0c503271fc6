#pragma once
// The second yardstick: the same I/O as the bare poll loop, but driven the
// way the panel and relayd are driven, by Qt's event loop on its own thread,
// the panel's 100 ms ticker and a QSerialPort, with no panel logic at all.
// What the programs cost above it is theirs; what it costs above the bare
// loop is the price of the event loop and the port's read path.

#include <atomic>
#include <chrono>
#include <string>

namespace relay::bench {

class qt_poll_loop {
public:
    // Polls the board behind device for the given time on a thread of its
    // own, and returns when done.
    void run(const std::string& device, std::chrono::milliseconds length);

    long ticks() const { return ticks_.load(); }
    long valid_answers() const { return valid_answers_.load(); }
    double cpu_seconds() const { return cpu_seconds_.load(); }
    double cpu_per_tick() const { return ticks() > 0 ? cpu_seconds() / static_cast<double>(ticks()) : 0.0; }

private:
    std::atomic<long> ticks_{0};
    std::atomic<long> valid_answers_{0};
    std::atomic<double> cpu_seconds_{0};
};

}  // namespace relay::bench
