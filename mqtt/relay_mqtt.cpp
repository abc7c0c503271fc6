#include "mqtt/relay_mqtt.h"

#include <stdexcept>

#include <sys/utsname.h>

namespace relay::mqtt {
namespace {

// The kernel's host name: part of the default client id and of the boards'
// ids in Home Assistant.
std::string machine_name()
{
    utsname names{};
    if (::uname(&names) != 0)
        return {};
    return names.nodename;
}

}  // namespace

started_bridge start_mqtt(io_loop& loop, const std::string& url, const std::map<std::string, std::string>& config,
                          log_function log)
{
    const auto parsed = parse_mqtt_settings(url, config, machine_name());
    if (!parsed.settings)
        return {nullptr, "MQTT: " + parsed.error};
    std::string password;
    if (!parsed.settings->password_file.empty()) {
        const auto read = read_password_file(parsed.settings->password_file);
        if (!read.password)
            return {nullptr, "MQTT: " + read.error};
        password = *read.password;
    }
    try {
        auto bridge = std::make_unique<mqtt_bridge>(loop, *parsed.settings, password, std::move(log));
        bridge->start();
        return {std::move(bridge), {}};
    } catch (const std::runtime_error& e) {
        return {nullptr, std::string("MQTT: ") + e.what()};
    }
}

}  // namespace relay::mqtt
