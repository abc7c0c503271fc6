#pragma once
// The daemon's boards on an MQTT broker: one connection for all of them,
// each board under its own topics (see board_topics_link.h and the README).
//
// The bridge lives on the sessions' thread. The connection runs on its own
// thread (mqtt_connection.h) and everything it hears is handed to this
// thread as a queued call, so the controllers are only ever touched here
// and a broker that is slow, down or unreachable never delays a poll tick.

#include "mqtt/board_topics_link.h"
#include "mqtt/mqtt_connection.h"
#include "mqtt/mqtt_settings.h"

#include <QObject>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace relay::mqtt {

class mqtt_bridge : public QObject {
    Q_OBJECT
public:
    // log receives plain-words lines (a refused login, a failed TLS
    // handshake, a refused command) on this thread.
    mqtt_bridge(const mqtt_settings& settings, const std::string& password, log_function log,
                QObject* parent = nullptr);
    // Marks every board and the daemon offline and disconnects cleanly.
    ~mqtt_bridge() override;

    // Serves a connected session's board. An empty name gives the adapter's
    // serial number (or device name) and the board address; a name already
    // in use gets a -2, -3... Returns the id the board's topics carry.
    std::string add_board(panel_controller& controller, const std::string& name = {});
    void start();

    bool is_connected() const { return connection->is_connected(); }
    const mqtt_settings& current_settings() const { return settings; }
    std::string daemon_availability() const;

private:
    void connected();
    void message(const std::string& topic, const std::string& payload, bool retained);
    void publish(const std::string& topic, const std::string& payload, bool retained);

    mqtt_settings settings;
    log_function log;
    std::unique_ptr<mqtt_connection> connection;
    std::vector<std::unique_ptr<board_topics_link>> boards;
    std::map<std::string, board_topics_link*> by_id;
};

}  // namespace relay::mqtt
