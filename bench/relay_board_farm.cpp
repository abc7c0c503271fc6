// relay-board-farm: many simulated relay boards in one process, each on a
// pseudo-terminal of its own, for the benchmark of relayd at scale. The
// boards run outside both relayd and the benchmark, so that neither one's
// CPU time or memory includes them.
//
//   relay-board-farm COUNT
//
// Prints COUNT lines "ADDRESS DEVICE", one a board, then "ready". Then
// answers each line "frames" on its input with one line
//
//   NOW_NS FRAMES_1 LAST_NS_1 ... FRAMES_COUNT LAST_NS_COUNT
//
// where NOW_NS is the steady clock when the line was made, FRAMES_i the
// valid command frames board i has heard so far and LAST_NS_i the arrival of
// the last of them on the same clock (0 before the first). Ends, and closes
// every board, at the end of its input.

#include "sim/pty_board.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

constexpr long most_boards = 1024;

const char* const usage =
    "Usage: relay-board-farm COUNT   (1 to 1024 simulated boards; see bench/relay_board_farm.cpp)\n";

std::int64_t nanoseconds(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// What one board has heard, kept by its own thread's observer. Count and
// time change together under the lock, so a reading never pairs a count
// with another frame's time.
struct tally {
    std::mutex lock;
    std::uint64_t frames = 0;
    std::int64_t last_ns = 0;
};

// Each board holds four descriptors (master, its own hold on the slave, and
// a wake-up pipe): 256 boards need more than the usual soft limit of 1024.
void raise_open_file_limit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    errno = 0;
    const long count = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 2 || errno != 0 || end == argv[1] || *end != '\0' || count < 1 || count > most_boards) {
        std::fputs(usage, stderr);
        return 2;
    }
    // The benchmark may die without closing our input.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    raise_open_file_limit();

    // Declared first so that it outlives the boards whose threads write it.
    std::vector<std::unique_ptr<tally>> tallies;
    std::vector<std::unique_ptr<relay::pty_board>> boards;
    try {
        for (long i = 0; i < count; ++i) {
            // Each board has its line to itself; the addresses differ only
            // so that a frame on the wrong line goes unanswered.
            const auto address = static_cast<std::uint8_t>(1 + i % 255);
            tallies.push_back(std::make_unique<tally>());
            boards.push_back(std::make_unique<relay::pty_board>(address));
            boards.back()->set_frame_observer([&t = *tallies.back()](const relay::received_frame& f) {
                std::lock_guard<std::mutex> hold(t.lock);
                ++t.frames;
                t.last_ns = nanoseconds(f.arrival);
            });
            std::printf("%d %s\n", address, boards.back()->slave_path().c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "relay-board-farm: board %zu of %ld: %s\n", boards.size() + 1, count, e.what());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::string request;
    std::string answer;
    while (std::getline(std::cin, request)) {
        if (request != "frames") {
            std::printf("error: unknown request '%s'; the one request is 'frames'\n", request.c_str());
            std::fflush(stdout);
            continue;
        }
        answer = std::to_string(nanoseconds(std::chrono::steady_clock::now()));
        for (auto& t : tallies) {
            std::lock_guard<std::mutex> hold(t->lock);
            answer += ' ' + std::to_string(t->frames) + ' ' + std::to_string(t->last_ns);
        }
        answer += '\n';
        std::fputs(answer.c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
