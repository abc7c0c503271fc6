#pragma once
// Every topic a board is known by on the broker, in one place.

#include <string>

namespace relay::mqtt {

constexpr const char* payload_online = "online";
constexpr const char* payload_offline = "offline";
constexpr const char* payload_on = "ON";
constexpr const char* payload_off = "OFF";

class board_topics {
public:
    board_topics(const std::string& prefix, const std::string& board) : root_(prefix + "/" + board) {}

    // online while the board answers, offline otherwise; retained. Also the
    // last will of the board's own connection, so it turns offline by
    // itself when the daemon dies.
    std::string availability() const { return root_ + "/availability"; }
    // ON or OFF as the board last reported relay n; retained.
    std::string relay_state(int relay) const { return root_ + "/relay/" + std::to_string(relay); }
    std::string relay_set(int relay) const { return relay_state(relay) + "/set"; }
    // The milliseconds of a pulse (on, then off) or a cycle (off, then on).
    std::string relay_pulse(int relay) const { return relay_state(relay) + "/pulse"; }
    std::string relay_cycle(int relay) const { return relay_state(relay) + "/cycle"; }
    std::string all_set() const { return root_ + "/all/set"; }
    // Refused commands, never retained.
    std::string error() const { return root_ + "/error"; }
    // The part after <prefix>/<board>/ of a set topic is what the command
    // parser reads.
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// What a board's connection subscribes to: its own command topics only.
inline std::string relay_set_filter(const board_topics& topics) { return topics.root() + "/relay/+/set"; }
inline std::string all_set_filter(const board_topics& topics) { return topics.all_set(); }
inline std::string relay_pulse_filter(const board_topics& topics) { return topics.root() + "/relay/+/pulse"; }
inline std::string relay_cycle_filter(const board_topics& topics) { return topics.root() + "/relay/+/cycle"; }
inline std::string discovery_status_topic(const std::string& discovery_prefix)
{
    return discovery_prefix + "/status";
}

}  // namespace relay::mqtt
