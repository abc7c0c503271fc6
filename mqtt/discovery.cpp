#include "mqtt/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace relay::mqtt {

discovery_message relay_discovery(const std::string& discovery_prefix, const std::string& board,
                                  const board_topics& topics, int relay)
{
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    const auto object_id = board + "_relay" + std::to_string(relay);

    QJsonObject device{
        {"identifiers", QJsonArray{q("relay-panel_" + board)}},
        {"name", q("Relay board " + board)},
        {"model", "Four-channel serial relay board"},
    };
    QJsonObject config{
        {"unique_id", q(object_id)},
        {"name", q("Relay " + std::to_string(relay))},
        {"device", device},
        {"availability_topic", q(topics.availability())},
        {"payload_available", payload_online},
        {"payload_not_available", payload_offline},
        {"state_topic", q(topics.relay_state(relay))},
        {"command_topic", q(topics.relay_set(relay))},
        {"payload_on", payload_on},
        {"payload_off", payload_off},
        {"state_on", payload_on},
        {"state_off", payload_off},
        {"retain", false},
    };
    return {discovery_prefix + "/switch/" + object_id + "/config",
            QJsonDocument(config).toJson(QJsonDocument::Compact).toStdString()};
}

}  // namespace relay::mqtt
