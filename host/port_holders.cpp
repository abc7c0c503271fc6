#include "host/port_holders.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace relay {
namespace {

// Linux's device numbers: the slaves of pseudo-terminals opened through
// /dev/ptmx take majors 136 to 143, and every master is /dev/ptmx itself
// (5, 2), told apart by the tty-index in its fdinfo.
constexpr int unix98_pty_slave_major = 136;
constexpr int unix98_pty_majors = 8;
const dev_t ptmx_device = makedev(5, 2);

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

std::string fdinfo_value(const std::string& fdinfo_path, const std::string& key)
{
    const std::string text = read_small_file(fdinfo_path);
    const auto at = text.find(key + ":");
    if (at == std::string::npos || (at > 0 && text[at - 1] != '\n'))
        return {};
    auto start = text.find_first_not_of(" \t", at + key.size() + 1);
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find('\n', start) - start);
}

// The pseudo-terminal's number when the device is the slave side of one
// (/dev/pts/N), -1 otherwise.
int pty_index(dev_t device)
{
    const auto major_number = static_cast<int>(major(device));
    if (major_number < unix98_pty_slave_major || major_number >= unix98_pty_slave_major + unix98_pty_majors)
        return -1;
    return (major_number - unix98_pty_slave_major) * 256 + static_cast<int>(minor(device));
}

struct what_is_held {
    int device = 0;  // descriptors open on the device
    // The master side of the same pseudo-terminal: the far end of the line.
    bool far_end = false;
};

// One process's fd folder; a process that ends meanwhile simply has none.
what_is_held look_at(const std::string& process_folder, dev_t device, int pty)
{
    what_is_held held;
    const std::string fd_folder = process_folder + "/fd";
    DIR* dir = ::opendir(fd_folder.c_str());
    if (!dir)
        return held;
    while (const dirent* entry = ::readdir(dir)) {
        if (!is_pid(entry->d_name))
            continue;
        struct stat target{};
        if (::stat((fd_folder + "/" + entry->d_name).c_str(), &target) != 0 || !S_ISCHR(target.st_mode))
            continue;
        if (target.st_rdev == device)
            ++held.device;
        else if (pty >= 0 && target.st_rdev == ptmx_device &&
                 fdinfo_value(process_folder + "/fdinfo/" + entry->d_name, "tty-index") == std::to_string(pty))
            held.far_end = true;
    }
    ::closedir(dir);
    return held;
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
    const int pty = pty_index(device.st_rdev);
    while (const dirent* entry = ::readdir(proc)) {
        if (!is_pid(entry->d_name))
            continue;
        const int pid = std::atoi(entry->d_name);
        if (pid == self)
            continue;
        const auto held = look_at(proc_root + "/" + entry->d_name, device.st_rdev, pty);
        // Whoever holds the master side is the other end of the line (a
        // simulated board), not a program in the way, though it keeps one
        // descriptor of the slave open so that its master stays quiet. One
        // more is a program that also uses the port, with a simulated board
        // of its own inside (relay-panel --simulate, connected).
        if (held.device > (held.far_end ? 1 : 0))
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
