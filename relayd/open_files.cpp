#include "relayd/open_files.h"

#include <sys/resource.h>

namespace relay::relayd {
namespace {

// Standard streams, the signal descriptor, the event loop's wake-up,
// systemd's notify socket and what Qt keeps for itself: eight, counted on a
// running relayd, and room to spare.
constexpr std::uint64_t files_of_the_process = 64;
// The port, its lock file, the socket's listener and the tick's timer.
constexpr std::uint64_t files_per_board = 4;
// Clients connected at one time to each board's socket.
constexpr std::uint64_t clients_per_board = 4;
// The connection's socket and libmosquitto's wake-up pair.
constexpr std::uint64_t files_per_mqtt_connection = 3;
// The pseudo-terminal's two sides and the simulated board's wake-up pipe.
constexpr std::uint64_t files_per_simulated_board = 4;
// The web page's listener, its epoll and wake-up, and every connection it
// takes (web_server.h: max_connections, its TLS pairs as many again).
constexpr std::uint64_t files_of_the_web_page = 4 + 2 * 256;

}  // namespace

std::uint64_t open_files_needed(const board_needs& needs)
{
    const std::uint64_t per_board = files_per_board + clients_per_board + (needs.mqtt ? files_per_mqtt_connection : 0) +
                                    (needs.simulate ? files_per_simulated_board : 0);
    return files_of_the_process + per_board * needs.boards + (needs.web ? files_of_the_web_page : 0);
}

std::uint64_t raise_open_file_limit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const rlim_t wanted = limit.rlim_max;
    if (limit.rlim_cur != wanted) {
        rlimit changed = limit;
        changed.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &changed) == 0)
            limit = changed;
    }
    return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<std::uint64_t>(limit.rlim_cur);
}

std::string open_files_refusal(const board_needs& needs, std::uint64_t limit)
{
    const auto needed = open_files_needed(needs);
    if (needed <= limit)
        return {};
    const std::string boards = std::to_string(needs.boards) + (needs.boards == 1 ? " board needs" : " boards need");
    std::string why =
        boards + " up to " + std::to_string(needed) + " open files, but relayd may open only " + std::to_string(limit);
    return why +
           " (the hard limit: LimitNOFILE= in the unit, ulimit -Hn in a shell): name fewer boards or raise "
           "the limit";
}

}  // namespace relay::relayd
