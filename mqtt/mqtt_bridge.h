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
// The bridge and every connection run on the loop the boards are polled on
// (mqtt_connection.h), with no thread of their own: a broker that is slow,
// down or unreachable never delays a poll tick, one timer a second keeps
// all the connections alive, and what a connection hears reaches the
// board's core through an inbox taken a few messages at a turn.

#include "mqtt/board_topics_link.h"
#include "mqtt/discovery_record.h"
#include "mqtt/message_inbox.h"
#include "mqtt/mqtt_connection.h"
#include "mqtt/mqtt_settings.h"
#include "loop/io_loop.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace relay::mqtt {

// What the configuration says of one board on the broker.
struct board_options {
    // Its topic level; empty: the adapter's serial number (or USB socket,
    // or device) and the board address.
    std::string name;
    // Its name in the record of discovery messages (the configuration's
    // board name); empty: its messages are not recorded.
    std::string record_name;
    // Its node in Home Assistant's ids; empty: the host and its id.
    std::string board_id;
    std::array<relay_kind, relay_count> kinds{};
    // Home Assistant's names of the relays, and the pulse each relay's
    // button asks for (none: no button).
    std::array<std::string, relay_count> names{};
    std::array<std::optional<std::chrono::milliseconds>, relay_count> pulses{};
    // One line per command it is asked for; empty: the bridge's log.
    audit_function audit;
};

class mqtt_bridge {
public:
    // log receives plain-words lines (a refused login, a failed TLS
    // handshake, a refused command) on the loop's thread. Throws
    // std::runtime_error when libmosquitto refuses the settings (a CA file
    // it cannot load), before any board is served.
    mqtt_bridge(io_loop& loop, const mqtt_settings& settings, const std::string& password, log_function log);
    // Marks every board offline and disconnects each connection cleanly,
    // waiting up to stop_grace for brokers that stopped reading.
    ~mqtt_bridge();
    mqtt_bridge(const mqtt_bridge&) = delete;
    mqtt_bridge& operator=(const mqtt_bridge&) = delete;

    // Serves a connected session's board on a connection of its own. An
    // empty name gives the adapter's serial number (or device name) and the
    // board address; a name already in use gets a -2, -3... Returns the id
    // the board's topics carry.
    std::string add_board(board_core& core, const std::string& name = {});
    std::string add_board(board_core& core, const board_options& options);
    // Remembers in this file which discovery messages went out, by board,
    // and removes those of boards no longer among configured once a board
    // connects. Call before the first add_board.
    void record_discovery(const std::string& path, const std::set<std::string>& configured);
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
        std::string record_name;
        message_inbox inbox;
    };
    void keep_connections_alive();
    void connected(served_board& board);
    void take_at_next_turn(served_board& board);
    void take_messages(served_board& board);
    void clear_stale_discovery(mqtt_connection& connection);
    void message(served_board& board, const std::string& topic, const std::string& payload, bool retained);

    io_loop& loop;
    mqtt_settings settings;
    std::string password;
    log_function log;
    bool started = false;
    loop_timer keep_alive;
    // Work posted to the loop runs only while the bridge is there.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    std::vector<std::unique_ptr<served_board>> boards;
    std::set<std::string> ids;
    discovery_record record{{}, {}};
};

}  // namespace relay::mqtt
