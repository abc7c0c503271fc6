#pragma once
// How the daemon reaches its MQTT broker: the broker's URL from the command
// line plus the [mqtt] keys of the config file. Parsing is pure so that every
// bad value can be told apart in a test; only reading the password file
// touches the system.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace relay::mqtt {

constexpr std::uint16_t default_mqtt_port = 1883;
constexpr std::uint16_t default_mqtts_port = 8883;
constexpr const char* default_topic_prefix = "relay-panel";
constexpr const char* default_discovery_prefix = "homeassistant";
constexpr std::chrono::seconds keepalive{30};

struct mqtt_settings {
    std::string host;
    std::uint16_t port = default_mqtt_port;
    bool tls = false;
    std::string user;
    // The password itself never comes from the command line or the config:
    // only a file that the daemon's user alone may read.
    std::string password_file;
    // Empty with TLS: the system's certificate store checks the broker.
    std::string ca_file;
    std::string client_id;
    std::string topic_prefix = default_topic_prefix;
    // Empty when Home Assistant discovery is off.
    std::string discovery_prefix = default_discovery_prefix;
    // The machine's name: part of a board's ids in Home Assistant unless
    // its board_id is set.
    std::string machine_name;
};

struct settings_result {
    std::optional<mqtt_settings> settings;
    std::string error;  // plain words when settings is empty
};

// url: mqtt://host[:port] or mqtts://host[:port] (IPv6 as [::1]).
// keys: user, password_file, ca_file, client_id, topic_prefix,
// discovery_prefix ("off" turns discovery off). machine_name makes the
// default client id, relayd-<machine_name>.
settings_result parse_mqtt_settings(const std::string& url, const std::map<std::string, std::string>& keys,
                                    const std::string& machine_name);

struct password_result {
    std::optional<std::string> password;
    std::string error;
};

// The first line of the file, without its line end. A file that anyone but
// its owner may read or write is refused, as ssh refuses such a private key.
password_result read_password_file(const std::string& path);

// True for a topic level or prefix that can stand in a topic we publish and
// subscribe to: no wildcards, no NUL, no leading '$', no empty level.
bool is_publishable_prefix(const std::string& prefix);

}  // namespace relay::mqtt
