#include "relayd/state_folder.h"

#include <cstdlib>
#include <filesystem>

namespace relay::relayd {
namespace {

std::string env_or_empty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A file name from a path or a port: "/etc/relayd.conf" is "etc-relayd.conf".
std::string file_word(const std::string& text)
{
    std::string word;
    for (const char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '_' || c == '-';
        if (keep)
            word += c;
        else if (!word.empty() && word.back() != '-')
            word += '-';
    }
    return word;
}

}  // namespace

state_environment state_environment_now()
{
    return {env_or_empty("STATE_DIRECTORY"), env_or_empty("XDG_STATE_HOME"), env_or_empty("HOME")};
}

std::string state_folder(const state_environment& env, bool system_mode)
{
    if (!env.state_directory.empty())
        return env.state_directory.substr(0, env.state_directory.find(':'));
    if (system_mode)
        return "/var/lib/relayd";
    // Relative values are to be ignored, as the XDG rules say.
    if (!env.xdg_state_home.empty() && env.xdg_state_home[0] == '/')
        return env.xdg_state_home + "/relayd";
    if (!env.home.empty() && env.home[0] == '/')
        return env.home + "/.local/state/relayd";
    return {};
}

namespace {

std::string record_name(const std::string& config_path, const std::string& port, std::uint8_t address)
{
    return config_path.empty() ? "port-" + file_word(port) + "-" + std::to_string(address)
                               : file_word(std::filesystem::absolute(config_path).lexically_normal().string());
}

}  // namespace

std::string discovery_record_file(const std::string& folder, const std::string& config_path, const std::string& port,
                                  std::uint8_t address)
{
    if (folder.empty())
        return {};
    return folder + "/ha-discovery-" + record_name(config_path, port, address);
}

std::string pending_steps_file(const std::string& folder, const std::string& config_path, const std::string& port,
                               std::uint8_t address, const std::string& board)
{
    if (folder.empty())
        return {};
    return folder + "/pending-steps-" + record_name(config_path, port, address) + "-" + file_word(board);
}

}  // namespace relay::relayd
