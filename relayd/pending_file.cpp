#include "relayd/pending_file.h"

#include "core/timing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace relay::relayd {
namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

// The latest due time the clock can hold: beyond it the conversion would
// overflow.
const long long latest_due_ms =
    std::chrono::duration_cast<milliseconds>(system_clock::time_point::max().time_since_epoch()).count();

}  // namespace

std::string pending_steps_text(const std::vector<saved_step>& steps)
{
    std::string text;
    for (const auto& step : steps) {
        const auto due = std::chrono::duration_cast<milliseconds>(step.due.time_since_epoch()).count();
        text += std::to_string(step.relay) + (step.final_state == relay_state::on ? " on " : " off ") +
                std::to_string(due);
        if (step.duration)
            text += " " + std::to_string(step.duration->count());
        text += "\n";
    }
    return text;
}

pending_read parse_pending_steps(const std::string& text, system_clock::time_point now)
{
    pending_read read;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const auto ignore = [&](const std::string& why) {
            read.ignored.push_back("line " + std::to_string(number) + " '" + line + "': " + why);
        };
        std::istringstream words(line);
        int relay = 0;
        std::string state;
        long long due = 0;
        if (!(words >> relay >> state >> due) || !is_relay_index(relay) || (state != "on" && state != "off")) {
            ignore("not a relay from 1 to 4, on or off, and a time");
            continue;
        }
        std::optional<milliseconds> duration;
        long long length = 0;
        std::string more;
        if (words >> length)
            duration = milliseconds(length);
        else if (!words.eof()) {
            ignore("the step's length is not a number");
            continue;
        }
        if (words >> more) {
            ignore("more words than a step has");
            continue;
        }
        if (due < 0 || due > latest_due_ms) {
            ignore("the due time is beyond what the clock can hold");
            continue;
        }
        if (duration && (*duration < milliseconds{0} || *duration > max_step_duration)) {
            ignore("the length is beyond what a step may last");
            continue;
        }
        const auto when = system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(milliseconds(due)));
        // Nothing but the step's own length could tell a clock far behind
        // from a time made up.
        if (!duration && when > now + max_step_duration) {
            ignore("due further ahead than any step may last, and no length to go by");
            continue;
        }
        read.steps.push_back({relay, state == "on" ? relay_state::on : relay_state::off, when, duration});
    }
    return read;
}

milliseconds time_left_of(const saved_step& step, system_clock::time_point now)
{
    // Both times lie within what the clock can hold, so the difference
    // cannot overflow for any now after the epoch.
    auto left = std::chrono::duration_cast<milliseconds>(step.due - now);
    left = std::min(left, step.duration.value_or(max_step_duration));
    return std::clamp(left, milliseconds{0}, max_step_duration);
}

std::string save_pending_steps(const std::string& path, const std::vector<saved_step>& steps)
{
    std::error_code error;
    const auto temporary = path + ".new";
    if (steps.empty()) {
        // And a copy left half-written by a run that was killed.
        std::filesystem::remove(temporary, error);
        std::filesystem::remove(path, error);
        return error ? error.message() : std::string();
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const auto text = pending_steps_text(steps);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::strerror(errno);
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    // On the disk before the rename makes it the file: a power cut must not
    // leave an empty one.
    const bool synced = ::fsync(fd) == 0;
    const int saved_errno = errno;
    ::close(fd);
    if (!written || !synced || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(written && synced ? errno : saved_errno);
        std::filesystem::remove(temporary, error);
        return why;
    }
    return {};
}

pending_read load_pending_steps(const std::string& path, system_clock::time_point now)
{
    std::ifstream file(path);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parse_pending_steps(text.str(), now);
}

}  // namespace relay::relayd
