#include "service/socket_alias.h"

#include "service/socket_probe.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace relay {
namespace {

std::string link_target(const std::string& path)
{
    std::error_code error;
    const auto target = std::filesystem::read_symlink(path, error);
    return error ? std::string() : target.string();
}

std::string make_folder(const std::string& folder, socket_access access)
{
    struct stat info{};
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? std::string() : "The path " + folder + " is not a folder.";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return "The folder " + folder + " cannot be created: " + error.message() + ".";
    // As a listening owner would leave it: private, or open to the group
    // through the socket files' own modes.
    ::chmod(folder.c_str(), access == socket_access::owner_only ? 0700 : 0755);
    return {};
}

}  // namespace

socket_alias::~socket_alias() { remove(); }

std::string socket_alias::place(const std::string& alias, const std::string& target, socket_access access)
{
    remove();
    std::error_code error;
    const auto absolute_target = std::filesystem::absolute(target, error).lexically_normal().string();
    if (error)
        return "The path " + target + " cannot be made absolute: " + error.message() + ".";
    if (std::filesystem::absolute(alias, error).lexically_normal().string() == absolute_target)
        return {};
    if (auto why = make_folder(std::filesystem::path(alias).parent_path().string(), access); !why.empty())
        return why;

    auto existing = probe_socket(alias);
    // A link to this very socket, left by an owner of the same name that
    // was killed: the socket is ours now, so is the link.
    if (existing.via_link && link_target(alias) == absolute_target)
        existing.state = socket_state::stale;
    switch (existing.state) {
    case socket_state::live:
        return "The socket " + alias + " is already served by " + describe_server(existing) + ".";
    case socket_state::forbidden:
        return "The socket " + alias + " belongs to another user.";
    case socket_state::not_a_socket:
        return "The path " + alias + " exists and is not a socket.";
    case socket_state::stale:
        ::unlink(alias.c_str());
        break;
    case socket_state::absent:
        break;
    }
    if (::symlink(absolute_target.c_str(), alias.c_str()) != 0)
        return "The link " + alias + " cannot be made: " + std::strerror(errno) + ".";
    alias_ = alias;
    target_ = absolute_target;
    return {};
}

void socket_alias::remove()
{
    if (alias_.empty())
        return;
    // A successor may already have put its own socket or link there.
    if (link_target(alias_) == target_)
        ::unlink(alias_.c_str());
    alias_.clear();
    target_.clear();
}

}  // namespace relay
