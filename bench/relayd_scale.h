#pragma once
// relayd at scale: the same relayd with 1 to 256 boards, each board on a
// pseudo-terminal of its own answered by relay-board-farm (a process apart
// from relayd and from the benchmark), and the bare poll loop on one more
// pseudo-terminal in each window as the yardstick. Prints a markdown table
// of relayd's CPU, CPU per board per tick, frames per board per minute and
// memory, against the goals.

#include <chrono>
#include <string>
#include <vector>

namespace relay::bench {

struct scale_plan {
    std::vector<int> board_counts;
    std::chrono::seconds window{10};
    // Boards of one more row with relayd on a real broker; 0 for none.
    int mqtt_boards = 0;
};

// Scratch files and relayd's logs go in a folder a row under dir. False
// when a row could not be measured (the table says which and why).
bool run_scale_table(const scale_plan& plan, const std::string& dir);

}  // namespace relay::bench
