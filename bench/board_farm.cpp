#include "bench/board_farm.h"

#include <algorithm>
#include <csignal>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace relay::bench {
namespace {

using clock_type = std::chrono::steady_clock;

void close_fd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

}  // namespace

std::uint64_t farm_snapshot::least_frames() const
{
    return frames.empty() ? 0 : *std::min_element(frames.begin(), frames.end());
}

board_farm::board_farm(int count, const std::string& log_path, std::chrono::milliseconds deadline)
{
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        error_ = "no pipe for the farm";
        return;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        error_ = "no pipe for the farm";
        return;
    }
    const std::string count_text = std::to_string(count);
    char* argv[] = {const_cast<char*>(RELAY_BOARD_FARM_PATH), const_cast<char*>(count_text.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&child, RELAY_BOARD_FARM_PATH, &actions, nullptr, argv, environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    to_farm = input[1];
    from_farm = output[0];
    if (child <= 0) {
        error_ = std::string("cannot start ") + RELAY_BOARD_FARM_PATH;
        end();
        return;
    }

    const auto until = clock_type::now() + deadline;
    while (auto line = read_line(until)) {
        if (*line == "ready")
            return;
        std::istringstream fields(*line);
        farm_board board;
        if (!(fields >> board.address >> board.device)) {
            error_ = "the farm said '" + *line + "'";
            end();
            return;
        }
        boards_.push_back(board);
    }
    error_ = "the farm did not make its " + count_text + " boards; see " + log_path;
    end();
}

board_farm::~board_farm() { end(); }

void board_farm::end()
{
    // The end of its input ends the farm; its boards' threads take a moment
    // to stop.
    close_fd(to_farm);
    if (child > 0) {
        const auto until = clock_type::now() + std::chrono::seconds(10);
        int status = 0;
        pid_t ended = 0;
        while ((ended = waitpid(child, &status, WNOHANG)) == 0 && clock_type::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (ended == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        child = -1;
    }
    close_fd(from_farm);
}

std::optional<std::string> board_farm::read_line(clock_type::time_point until)
{
    for (;;) {
        if (const auto end_of_line = pending.find('\n'); end_of_line != std::string::npos) {
            std::string line = pending.substr(0, end_of_line);
            pending.erase(0, end_of_line + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clock_type::now()).count();
        pollfd p{from_farm, POLLIN, 0};
        if (from_farm < 0 || left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1)
            return std::nullopt;
        char buffer[65536];
        const auto n = read(from_farm, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<farm_snapshot> board_farm::snapshot()
{
    static constexpr char request[] = "frames\n";
    if (to_farm < 0 || write(to_farm, request, sizeof request - 1) != static_cast<ssize_t>(sizeof request - 1))
        return std::nullopt;
    const auto line = read_line(clock_type::now() + std::chrono::seconds(5));
    if (!line)
        return std::nullopt;
    farm_snapshot s;
    std::istringstream fields(*line);
    fields >> s.now_ns;
    std::uint64_t frames = 0;
    std::int64_t last = 0;
    while (fields >> frames >> last) {
        s.frames.push_back(frames);
        s.last_ns.push_back(last);
    }
    if (s.frames.size() != boards_.size())
        return std::nullopt;
    return s;
}

bool board_farm::wait_for_frames(std::uint64_t frames, std::chrono::milliseconds deadline)
{
    const auto until = clock_type::now() + deadline;
    for (;;) {
        const auto s = snapshot();
        if (s && s->least_frames() >= frames)
            return true;
        if (!s || clock_type::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::vector<double> frames_per_minute(const farm_snapshot& before, const farm_snapshot& after,
                                      std::chrono::milliseconds tick)
{
    const auto tick_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tick).count();
    std::vector<double> rates;
    for (std::size_t i = 0; i < before.frames.size() && i < after.frames.size(); ++i) {
        const auto frames = after.frames[i] - before.frames[i];
        const auto from = before.last_ns[i] != 0 ? before.last_ns[i] : before.now_ns;
        const bool stalled = after.now_ns - after.last_ns[i] > tick_ns + tick_ns / 2;
        const auto to = stalled ? after.now_ns : after.last_ns[i];
        rates.push_back(
            frames == 0 || to <= from ? 0.0 : static_cast<double>(frames) * 60e9 / static_cast<double>(to - from));
    }
    return rates;
}

}  // namespace relay::bench
