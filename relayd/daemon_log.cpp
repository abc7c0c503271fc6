#include "relayd/daemon_log.h"

#include <cstdio>

namespace relay::relayd {

void log_line(priority level, const std::string& text)
{
    // One write per line, so lines from a crash or a pipe stay whole.
    const std::string line = "<" + std::to_string(static_cast<int>(level)) + ">" + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace relay::relayd
