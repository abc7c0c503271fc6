#include "serial/port_lock.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace relay {
namespace {

const std::vector<std::string>& usual_folders()
{
    static const std::vector<std::string> folders{"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                                  "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    return folders;
}

// "ttyUSB0" for /dev/ttyUSB0, "pts_3" for /dev/pts/3.
std::string lock_name(const std::string& device_path)
{
    std::string name = device_path.rfind("/dev/", 0) == 0 ? device_path.substr(5) : device_path;
    for (auto& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

std::string first_line_of(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string host_name()
{
    char name[HOST_NAME_MAX + 1] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string machine_id()
{
    std::string id = first_line_of("/etc/machine-id");
    return id.empty() ? first_line_of("/var/lib/dbus/machine-id") : id;
}

// The program's file name, as the lock names it.
std::string program_file_name(pid_t pid)
{
    char target[PATH_MAX] = {};
    const auto link = "/proc/" + std::to_string(pid) + "/exe";
    const auto n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string path(target, static_cast<std::size_t>(n));
    const auto deleted = path.rfind(" (deleted)");
    if (deleted != std::string::npos && deleted + 10 == path.size())
        path.erase(deleted);
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

port_lock::port_lock(const std::string& device_path, const std::vector<std::string>& lock_folders)
{
    for (const auto& folder : lock_folders.empty() ? usual_folders() : lock_folders) {
        if (::access(folder.c_str(), R_OK) != 0)
            continue;
        file = folder + "/" + lock_name(device_path);
        if (::access(folder.c_str(), W_OK) == 0)
            return;
        file.clear();
    }
}

port_lock::~port_lock()
{
    if (held)
        ::unlink(file.c_str());
}

bool port_lock::try_lock()
{
    if (held || file.empty())
        return true;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            std::ostringstream contents;
            contents << ::getpid() << '\n'
                     << program_file_name(::getpid()) << '\n'
                     << host_name() << '\n'
                     << machine_id() << '\n'
                     << first_line_of("/proc/sys/kernel/random/boot_id") << '\n';
            const auto text = contents.str();
            const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            ::close(fd);
            if (!written) {
                ::unlink(file.c_str());
                return true;
            }
            held = true;
            return true;
        }
        if (errno != EEXIST)
            return true;
        if (holder_is_alive())
            return false;
        ::unlink(file.c_str());
    }
    return false;
}

bool port_lock::holder_is_alive() const
{
    std::ifstream in(file);
    std::string pid_text, program, host;
    std::getline(in, pid_text);
    std::getline(in, program);
    std::getline(in, host);
    long pid = 0;
    try {
        pid = std::stol(pid_text);
    } catch (...) {
        return false;
    }
    if (pid <= 0)
        return false;
    // Another machine's lock, on a shared folder: not ours to judge.
    if (!host.empty() && host != host_name())
        return true;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return false;
    // The number taken by another program since.
    const auto running = program_file_name(static_cast<pid_t>(pid));
    return running.empty() || program.empty() || running == program.substr(program.rfind('/') + 1);
}

}  // namespace relay
