#pragma once
// relayd as a child process of a benchmark: started with posix_spawn, its
// stderr in a file to read back, its CPU time and memory read from outside.

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace relay::bench {

// Time on a CPU so far, in seconds, of every thread the process has had:
// its CPU clock, the same sum as /proc/PID/stat's utime and stime but in
// nanoseconds, as their clock ticks are too coarse for a tenth of a
// millisecond a tick. 0 when there is no such process.
double process_cpu_seconds(pid_t pid);

class relayd_child {
public:
    relayd_child(const std::vector<std::string>& args, const std::string& log_path);
    ~relayd_child();
    relayd_child(const relayd_child&) = delete;
    relayd_child& operator=(const relayd_child&) = delete;

    pid_t pid() const { return child; }
    // False once it has ended (or never started).
    bool running();

    double cpu_seconds() const { return process_cpu_seconds(child); }

    // Resident memory now (VmRSS) and at its peak (VmHWM).
    double rss_mb() const;
    double peak_rss_mb() const;
    int threads() const;
    // Times any of its threads went to sleep and was woken: voluntary
    // context switches, summed over /proc/PID/task.
    long long wake_ups() const;

    // SIGTERM, then SIGKILL if it has not ended within the grace period.
    // Its exit status, or -1 when it was killed or had already gone.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(10));

private:
    double status_field(const char* field) const;

    pid_t child = -1;
};

}  // namespace relay::bench
