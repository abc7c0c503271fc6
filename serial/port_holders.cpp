#include "serial/port_holders.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relay {
namespace {

bool is_pid(const char* name)
{
    if (!*name)
        return false;
    for (const char* p = name; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

std::string read_small_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buffer[512];
    while (in && text.size() < 4096) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

// One process's fd folder; a process that ends meanwhile simply has none.
bool holds_device(const std::string& fd_folder, dev_t device)
{
    DIR* dir = ::opendir(fd_folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (!is_pid(entry->d_name))
            continue;
        struct stat target{};
        if (::stat((fd_folder + "/" + entry->d_name).c_str(), &target) == 0 && S_ISCHR(target.st_mode) &&
            target.st_rdev == device) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string program_of(int pid, const std::string& proc_root)
{
    const std::string base = proc_root + "/" + std::to_string(pid);
    const std::string cmdline = read_small_file(base + "/cmdline");
    std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    const auto slash = argv0.rfind('/');
    if (slash != std::string::npos)
        argv0.erase(0, slash + 1);
    if (!argv0.empty())
        return argv0;
    std::string comm = read_small_file(base + "/comm");
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r'))
        comm.pop_back();
    return comm;
}

std::vector<port_holder> port_holders(const std::string& device_path, const std::string& proc_root)
{
    std::vector<port_holder> holders;
    struct stat device{};
    // Compared by device number, so a symlink, a by-id name and the
    // device's own name all match.
    if (::stat(device_path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return holders;
    DIR* proc = ::opendir(proc_root.c_str());
    if (!proc)
        return holders;
    const int self = static_cast<int>(::getpid());
    while (const dirent* entry = ::readdir(proc)) {
        if (!is_pid(entry->d_name))
            continue;
        const int pid = std::atoi(entry->d_name);
        if (pid == self)
            continue;
        if (holds_device(proc_root + "/" + entry->d_name + "/fd", device.st_rdev))
            holders.push_back({pid, program_of(pid, proc_root)});
    }
    ::closedir(proc);
    std::sort(holders.begin(), holders.end(), [](const port_holder& a, const port_holder& b) { return a.pid < b.pid; });
    return holders;
}

std::string describe_holders(const std::vector<port_holder>& holders)
{
    std::string text;
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i > 0)
            text += i + 1 == holders.size() ? " and " : ", ";
        text += (holders[i].program.empty() ? std::string("a program") : holders[i].program) + " (pid " +
                std::to_string(holders[i].pid) + ")";
    }
    return text;
}

}  // namespace relay
