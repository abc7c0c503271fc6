// relay-board-sim: a simulated relay board on a pseudo-terminal, for trying
// the panel or the command-line tool without hardware.

#include "sim/pty_board.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include <pthread.h>

namespace {

const char* const usage =
    "Usage: relay-board-sim [--address N] [--link PATH] [--verbose]\n"
    "\n"
    "Simulates a four-channel relay board on a pseudo-terminal. Prints the\n"
    "terminal's device name on one line, then serves it until interrupted.\n"
    "\n"
    "  --address N   answer only frames for address N (0 to 255); without it\n"
    "                the board answers every address\n"
    "  --link PATH   also make PATH a symlink to the terminal\n"
    "  --verbose     print every command frame received on stderr\n"
    "  --help        show this help and exit\n";

struct options {
    std::optional<std::uint8_t> address;
    std::string link;
    bool verbose = false;
};

bool parse_address(const char* text, std::uint8_t& address)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 255)
        return false;
    address = static_cast<std::uint8_t>(value);
    return true;
}

// 0 to go on, otherwise the exit status plus one.
int parse(int argc, char** argv, options& opts)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 1;
        }
        if (arg == "--verbose" || arg == "-v") {
            opts.verbose = true;
        } else if ((arg == "--address" || arg == "--link") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--link") {
                opts.link = value;
                continue;
            }
            std::uint8_t address = 0;
            if (!parse_address(value, address)) {
                std::fprintf(stderr, "relay-board-sim: the address must be a number from 0 to 255, not '%s'\n",
                             value);
                return 3;
            }
            opts.address = address;
        } else {
            std::fprintf(stderr, "relay-board-sim: unknown or incomplete option '%s'\n%s", arg.c_str(), usage);
            return 3;
        }
    }
    return 0;
}

void print_frame(const relay::received_frame& f)
{
    std::fprintf(stderr, "%02X %02X %02X %02X %02X %02X %02X %02X\n", f.bytes[0], f.bytes[1], f.bytes[2], f.bytes[3],
                 f.bytes[4], f.bytes[5], f.bytes[6], f.bytes[7]);
}

}  // namespace

int main(int argc, char** argv)
{
    options opts;
    if (const int stop = parse(argc, argv, opts))
        return stop - 1;

    // Blocked before the board's thread starts, so that it inherits the mask
    // and the signals reach only the sigwait below. Stdin is no stop signal:
    // under CI there is none.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    try {
        relay::pty_board board(opts.address);
        if (!opts.link.empty())
            board.set_link_path(opts.link);
        if (opts.verbose)
            board.set_frame_observer(print_frame);
        std::printf("%s\n", board.slave_path().c_str());
        std::fflush(stdout);
        int received = 0;
        sigwait(&stop_signals, &received);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "relay-board-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
