#pragma once
// The benchmark's side of relay-board-farm: the farm started as a child
// process with its boards' devices read back, and the frames each board has
// heard asked for whenever wanted. See bench/relay_board_farm.cpp.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace relay::bench {

struct farm_board {
    int address = 0;
    std::string device;
};

// What every board had heard at one moment, on the farm's steady clock.
struct farm_snapshot {
    std::int64_t now_ns = 0;
    std::vector<std::uint64_t> frames;
    std::vector<std::int64_t> last_ns;  // 0: no frame yet

    std::uint64_t least_frames() const;
};

class board_farm {
public:
    // Starts the farm with count boards; error() says why when it did not
    // come up within the deadline.
    board_farm(int count, const std::string& log_path, std::chrono::milliseconds deadline = std::chrono::seconds(30));
    ~board_farm();
    board_farm(const board_farm&) = delete;
    board_farm& operator=(const board_farm&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::vector<farm_board>& boards() const { return boards_; }
    pid_t pid() const { return child; }

    std::optional<farm_snapshot> snapshot();
    // Until every board has heard at least frames; false at the deadline.
    bool wait_for_frames(std::uint64_t frames, std::chrono::milliseconds deadline);

private:
    std::optional<std::string> read_line(std::chrono::steady_clock::time_point until);
    void end();

    pid_t child = -1;
    int to_farm = -1;
    int from_farm = -1;
    std::string pending;
    std::vector<farm_board> boards_;
    std::string error_;
};

// Frames per minute of each board between two snapshots, from the number of
// frames between them and the time from each snapshot's last frame to the
// next's: exact to the arrival times, where counting frames in a 10 s window
// would be exact only to 6 a minute. A board silent for more than a tick at
// the end is timed to the end, so a stall shows as a lower rate.
std::vector<double> frames_per_minute(const farm_snapshot& before, const farm_snapshot& after,
                                      std::chrono::milliseconds tick);

}  // namespace relay::bench
