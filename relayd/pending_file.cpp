#include "relayd/pending_file.h"

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

}  // namespace

std::string pending_steps_text(const std::vector<saved_step>& steps)
{
    std::string text;
    for (const auto& step : steps) {
        const auto due = std::chrono::duration_cast<milliseconds>(step.due.time_since_epoch()).count();
        text += std::to_string(step.relay) + (step.final_state == relay_state::on ? " on " : " off ") +
                std::to_string(due) + "\n";
    }
    return text;
}

std::vector<saved_step> parse_pending_steps(const std::string& text)
{
    std::vector<saved_step> steps;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        int relay = 0;
        std::string state;
        long long due = 0;
        std::string more;
        if (!(words >> relay >> state >> due) || (words >> more) || !is_relay_index(relay) ||
            (state != "on" && state != "off") || due < 0)
            continue;
        const auto since_epoch = std::chrono::duration_cast<system_clock::duration>(milliseconds(due));
        const auto final_state = state == "on" ? relay_state::on : relay_state::off;
        steps.push_back({relay, final_state, system_clock::time_point(since_epoch)});
    }
    return steps;
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

std::vector<saved_step> load_pending_steps(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parse_pending_steps(text.str());
}

}  // namespace relay::relayd
