#pragma once
// relayd's timed steps measured as the board sees them: a pulse's width
// against the duration asked, the interlock's delay from the off to the on,
// and relayd's CPU per tick with a pending step on each of 32 boards
// against none. Figures only: nothing here passes or fails on time.

#include <string>

namespace relay::bench {

// False when relayd could not be run at all.
bool run_timed_table(const std::string& dir, bool quick);

}  // namespace relay::bench
