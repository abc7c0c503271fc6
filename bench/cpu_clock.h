#pragma once
// CPU time in seconds on one of the kernel's CPU clocks: the calling
// thread's (the default) or the whole process's.

#include <ctime>

namespace relay::bench {

inline double cpu_clock_seconds(clockid_t which = CLOCK_THREAD_CPUTIME_ID)
{
    timespec t{};
    clock_gettime(which, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace relay::bench
