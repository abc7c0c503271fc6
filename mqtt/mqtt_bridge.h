#pragma once
// The daemon's boards on an MQTT broker: one connection per board, each
// board under its own topics (see board_topics_link.h and the README).
//
// Why a connection each: a broker keeps one last will per connection, and
// the will is what tells a subscriber that a board is gone when the daemon
// dies without a word. With a connection per board, the will sits on the
// board's own availability topic, so a client that reads only that topic
// is never left with a stale "online". The client id is <client_id>-<board>.
//
// The bridge lives on the sessions' thread. Each connection runs on its own
// thread (mqtt_connection.h) and everything it hears is handed to this
// thread as a queued call, so the controllers are only ever touched here
// and a broker that is slow, down or unreachable never delays a poll tick.

#include "mqtt/board_topics_link.h"
#include "mqtt/mqtt_connection.h"
#include "mqtt/mqtt_settings.h"

#include <QObject>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace relay::mqtt {

class mqtt_bridge : public QObject {
    Q_OBJECT
public:
    // log receives plain-words lines (a refused login, a failed TLS
    // handshake, a refused command) on this thread. Throws
    // std::runtime_error when libmosquitto refuses the settings (a CA file
    // it cannot load), before any board is served.
    mqtt_bridge(const mqtt_settings& settings, const std::string& password, log_function log,
                QObject* parent = nullptr);
    // Marks every board offline and disconnects each connection cleanly.
    ~mqtt_bridge() override;

    // Serves a connected session's board on a connection of its own. An
    // empty name gives the adapter's serial number (or device name) and the
    // board address; a name already in use gets a -2, -3... Returns the id
    // the board's topics carry.
    std::string add_board(panel_controller& controller, const std::string& name = {});
    // Connects every board added so far and, from now on, each one added.
    void start();

    // True while every board's connection is up.
    bool is_connected() const;
    // The client id the board's connection goes by.
    std::string client_id_for(const std::string& board_id) const { return settings.client_id + "-" + board_id; }

private:
    struct served_board {
        std::unique_ptr<mqtt_connection> connection;
        std::unique_ptr<board_topics_link> link;
    };
    void connected(served_board& board);
    void message(served_board& board, const std::string& topic, const std::string& payload, bool retained);

    mqtt_settings settings;
    std::string password;
    log_function log;
    bool started = false;
    std::vector<std::unique_ptr<served_board>> boards;
    std::set<std::string> ids;
};

}  // namespace relay::mqtt
