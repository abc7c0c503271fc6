#include "mqtt/relay_mqtt.h"

#include <QSysInfo>

#include <stdexcept>

namespace relay::mqtt {

started_bridge start_mqtt(const std::string& url, const std::map<std::string, std::string>& config,
                          log_function log)
{
    const auto parsed = parse_mqtt_settings(url, config, QSysInfo::machineHostName().toStdString());
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
        auto bridge = std::make_unique<mqtt_bridge>(*parsed.settings, password, std::move(log));
        bridge->start();
        return {std::move(bridge), {}};
    } catch (const std::runtime_error& e) {
        return {nullptr, std::string("MQTT: ") + e.what()};
    }
}

}  // namespace relay::mqtt
