#include "bench/bare_poll_loop.h"

#include "bench/cpu_clock.h"
#include "protocol/frame.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace relay::bench {
void bare_poll_loop::run(const std::string& device, std::chrono::milliseconds length)
{
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(device.c_str());
        return;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
    const auto query = encode_command(1, status_query);
    const double cpu0 = cpu_clock_seconds();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end) {
        next.tv_nsec += 100000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        tcflush(fd, TCIFLUSH);
        if (write(fd, query.data(), query.size()) != static_cast<ssize_t>(query.size()))
            continue;
        ++ticks_;
        frame answer{};
        std::size_t got = 0;
        while (got < answer.size()) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) != 1)
                break;
            const auto n = read(fd, answer.data() + got, answer.size() - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got == answer.size() && is_valid_status(answer))
            ++valid_answers_;
    }
    cpu_seconds_ = cpu_clock_seconds() - cpu0;
    close(fd);
}

}  // namespace relay::bench
