#include "bench/relayd_child.h"

#include <csignal>
#include <ctime>
#include <fstream>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace relay::bench {

relayd_child::relayd_child(const std::vector<std::string>& args, const std::string& log_path)
{
    std::vector<char*> argv{const_cast<char*>(RELAYD_PATH)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&child, RELAYD_PATH, &actions, nullptr, argv.data(), environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
}

relayd_child::~relayd_child() { stop(); }

bool relayd_child::running()
{
    if (child <= 0)
        return false;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
        child = -1;
        return false;
    }
    return true;
}

double process_cpu_seconds(pid_t pid)
{
    clockid_t clock{};
    timespec t{};
    if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double relayd_child::status_field(const char* field) const
{
    std::ifstream status("/proc/" + std::to_string(child) + "/status");
    const std::string prefix = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stod(line.substr(prefix.size()));
    return 0;
}

double relayd_child::rss_mb() const { return status_field("VmRSS") / 1024.0; }

double relayd_child::peak_rss_mb() const { return status_field("VmHWM") / 1024.0; }

int relayd_child::threads() const { return static_cast<int>(status_field("Threads")); }

long long relayd_child::wake_ups() const
{
    const std::string tasks = "/proc/" + std::to_string(child) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (!folder)
        return 0;
    long long total = 0;
    while (const dirent* task = readdir(folder)) {
        if (task->d_name[0] == '.')
            continue;
        std::ifstream status(tasks + "/" + task->d_name + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::stoll(line.substr(line.find(':') + 1));
    }
    closedir(folder);
    return total;
}

int relayd_child::stop(std::chrono::milliseconds grace)
{
    if (child <= 0)
        return -1;
    kill(child, SIGTERM);
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + grace;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    child = -1;
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace relay::bench
