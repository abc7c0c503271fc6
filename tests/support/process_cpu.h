#pragma once
// Processor time this process has used so far, for checks that a quiet
// program really is quiet (a hung-up port polled in a loop would burn a core).

#include <ctime>

namespace relay::testing {

inline double process_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace relay::testing
