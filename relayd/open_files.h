#pragma once
// How many files relayd may have open, and whether its boards fit. Every
// board holds its port and its socket's listener, and each client of a
// socket takes one more; a board that finds no descriptor left half-way
// through the start would leave the boards before it serving and itself
// not, so the boards are counted against the limit before anything opens.

#include <cstddef>
#include <cstdint>
#include <string>

namespace relay::relayd {

struct board_needs {
    std::size_t boards = 0;
    bool mqtt = false;  // each board's own broker connection
    bool simulate = false;  // each board's simulated board, in the process
    bool web = false;       // the web page's connections, once for all boards
};

// The descriptors relayd may come to hold for these boards.
std::uint64_t open_files_needed(const board_needs& needs);

// Raises the soft limit on open files to the hard one, since every board
// wants its own. Returns the limit now in force.
std::uint64_t raise_open_file_limit();

// Empty when the boards fit in limit; otherwise the one line that says they
// do not and what to do about it.
std::string open_files_refusal(const board_needs& needs, std::uint64_t limit);

}  // namespace relay::relayd
