#include "mqtt/mqtt_bridge.h"

#include "mqtt/board_id.h"
#include "panel/board_address.h"

#include <QMetaObject>

namespace relay::mqtt {

mqtt_bridge::mqtt_bridge(const mqtt_settings& settings_, const std::string& password, log_function log_,
                         QObject* parent)
    : QObject(parent), settings(settings_), log(std::move(log_))
{
    if (!log)
        log = [](const std::string&) {};
    std::vector<std::string> subscriptions{relay_set_filter(settings.topic_prefix),
                                           all_set_filter(settings.topic_prefix)};
    if (!settings.discovery_prefix.empty())
        subscriptions.push_back(discovery_status_topic(settings.discovery_prefix));

    // These run on the connection's thread: hand everything over to ours.
    connection_events events;
    events.connected = [this] { QMetaObject::invokeMethod(this, [this] { connected(); }, Qt::QueuedConnection); };
    events.disconnected = [this](const std::string& why) {
        QMetaObject::invokeMethod(this, [this, why] { log("MQTT: " + why); }, Qt::QueuedConnection);
    };
    events.message = [this](const std::string& topic, const std::string& payload, bool retained) {
        QMetaObject::invokeMethod(
            this, [this, topic, payload, retained] { message(topic, payload, retained); }, Qt::QueuedConnection);
    };
    connection = std::make_unique<mqtt_connection>(settings, password, last_will{daemon_availability(), payload_offline},
                                                   std::move(subscriptions), std::move(events));
}

mqtt_bridge::~mqtt_bridge()
{
    for (auto& board : boards)
        board->publish_offline();
    publish(daemon_availability(), payload_offline, true);
    connection->stop();
    boards.clear();
}

std::string mqtt_bridge::daemon_availability() const
{
    return daemon_availability_topic(settings.topic_prefix, settings.client_id);
}

std::string mqtt_bridge::add_board(panel_controller& controller, const std::string& name)
{
    const auto& device = controller.port().path;
    const auto address = address_from_text(controller.controls().add.text).value_or(0);
    const auto wanted = make_board_id(name, name.empty() ? adapter_serial_number(device) : std::string(), device, address);
    auto id = wanted;
    for (int n = 2; by_id.count(id) != 0; ++n)
        id = wanted + "-" + std::to_string(n);

    boards.push_back(std::make_unique<board_topics_link>(
        controller, id, settings.topic_prefix, settings.discovery_prefix, daemon_availability(),
        [this](const std::string& topic, const std::string& payload, bool retained) {
            publish(topic, payload, retained);
        },
        log));
    by_id[id] = boards.back().get();
    if (connection->is_connected())
        boards.back()->publish_everything();
    return id;
}

void mqtt_bridge::start() { connection->start(); }

void mqtt_bridge::publish(const std::string& topic, const std::string& payload, bool retained)
{
    // Nothing waits while the broker is away: the next connect publishes
    // everything again.
    connection->publish(topic, payload, retained);
}

void mqtt_bridge::connected()
{
    log("MQTT: connected to " + connection->broker() + " as " + settings.client_id);
    publish(daemon_availability(), payload_online, true);
    for (auto& board : boards)
        board->publish_everything();
}

void mqtt_bridge::message(const std::string& topic, const std::string& payload, bool retained)
{
    if (!settings.discovery_prefix.empty() && topic == discovery_status_topic(settings.discovery_prefix)) {
        // Home Assistant came back and may have forgotten its entities.
        if (payload == payload_online)
            for (auto& board : boards)
                board->publish_discovery();
        return;
    }
    const auto head = settings.topic_prefix + "/";
    if (topic.compare(0, head.size(), head) != 0)
        return;
    const auto rest = topic.substr(head.size());
    const auto slash = rest.find('/');
    if (slash == std::string::npos)
        return;
    // A board of another daemon under the same prefix is not ours to answer.
    const auto board = by_id.find(rest.substr(0, slash));
    if (board == by_id.end())
        return;
    board->second->handle_command(rest.substr(slash + 1), payload, retained);
}

}  // namespace relay::mqtt
