#include "attach/connect_words.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relay {
namespace {

std::string group_name(gid_t gid)
{
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->gr_name;
    // usermod takes a group's number as well as its name.
    return std::to_string(gid);
}

std::string user_name(uid_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

// What keeps this user out: the socket file itself, or the first folder on
// the way to it that this user may not search.
struct gate {
    std::string path;
    struct stat info{};
    bool is_folder = false;
    bool found = false;
};

gate gate_of(const std::string& path)
{
    gate g;
    std::filesystem::path walked;
    const auto folder = std::filesystem::path(path).parent_path();
    for (const auto& part : folder) {
        walked /= part;
        struct stat info{};
        if (::stat(walked.c_str(), &info) != 0)
            break;
        if (::faccessat(AT_FDCWD, walked.c_str(), X_OK, AT_EACCESS) != 0) {
            g = {walked.string(), info, true, true};
            return g;
        }
    }
    if (::stat(path.c_str(), &g.info) == 0) {
        g.path = path;
        g.found = true;
    }
    return g;
}

std::string permission_words(const std::string& path)
{
    const auto g = gate_of(path);
    const std::string intro = "This user may not use the board owner's socket " + path;
    if (!g.found)
        return intro + ".";
    const std::string what = g.is_folder ? " (the folder " + g.path + " is closed to it)" : "";
    const mode_t group_may = g.is_folder ? S_IXGRP : S_IWGRP;
    if ((g.info.st_mode & group_may) == 0)
        return intro + what + ": only " + user_name(g.info.st_uid) + " may; run as that user.";
    const auto name = group_name(g.info.st_gid);
    return intro + what + ": only members of the group " + name + " may. Join it with sudo usermod -aG " + name +
           " $USER, then log in again.";
}

}  // namespace

std::string connect_failure_words(const std::string& path, int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return permission_words(path);
    case ENOENT:
        return "No program serves a board at " + path + " (there is no such socket).";
    case ECONNREFUSED:
        return "No program answers at " + path + ": the one that served a board there has gone.";
    case EAGAIN:
        return "The board's owner at " + path + " takes no more connections for now.";
    case ENAMETOOLONG:
        return "The socket path " + path + " is too long.";
    case ENOTDIR:
    case ENOTSOCK:
        return "Nothing at " + path + " is a socket.";
    default:
        return "Cannot connect to the board's owner at " + path + ": " + std::strerror(error) + ".";
    }
}

}  // namespace relay
