#pragma once
// The yardstick for CPU per tick: what a poll tick must do at the least, in
// plain C++ with no event loop. Every 100 ms, to absolute deadlines: flush
// input, write an 8-byte status query, wait for 8 bytes with poll(2),
// validate them. Run on a second simulated board in the same run as the
// program measured, so that both see the same machine at the same moment.

#include <atomic>
#include <chrono>
#include <string>

namespace relay::bench {

class bare_poll_loop {
public:
    // Polls the board behind device for the given time on the calling
    // thread; the CPU figure is that thread's own clock.
    void run(const std::string& device, std::chrono::milliseconds length);

    long ticks() const { return ticks_.load(); }
    long valid_answers() const { return valid_answers_.load(); }
    double cpu_seconds() const { return cpu_seconds_; }
    double cpu_per_tick() const { return ticks() > 0 ? cpu_seconds_ / static_cast<double>(ticks()) : 0.0; }

private:
    std::atomic<long> ticks_{0};
    std::atomic<long> valid_answers_{0};
    double cpu_seconds_ = 0;
};

}  // namespace relay::bench
