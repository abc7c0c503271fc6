#pragma once
// Where relayd keeps what it must remember from one run to the next (the
// Home Assistant discovery messages it has published, the timed steps still
// to come): the unit's
// StateDirectory= for the system service, else the user's state folder.
// Pure, so that every environment is tried in a test.

#include <cstdint>
#include <string>

namespace relay::relayd {

// $STATE_DIRECTORY (set by systemd, colon-separated), $XDG_STATE_HOME, $HOME.
struct state_environment {
    std::string state_directory;
    std::string xdg_state_home;
    std::string home;
};

state_environment state_environment_now();

// $STATE_DIRECTORY's first folder; /var/lib/relayd for --system without
// it; $XDG_STATE_HOME/relayd; ~/.local/state/relayd; empty when none.
std::string state_folder(const state_environment& env, bool system_mode);

// One record per configuration, so that two relayd of one user never
// remove each other's boards: named after the absolute path of the
// configuration file, or the port and address of the command line.
std::string discovery_record_file(const std::string& folder, const std::string& config_path, const std::string& port,
                                  std::uint8_t address);
// The timed steps of one board of that configuration; empty when no folder.
std::string pending_steps_file(const std::string& folder, const std::string& config_path, const std::string& port,
                               std::uint8_t address, const std::string& board);

}  // namespace relay::relayd
