#include "mqtt/mqtt_bridge.h"

#include "mqtt/board_id.h"

namespace relay::mqtt {

mqtt_bridge::mqtt_bridge(io_loop& loop_, const mqtt_settings& settings_, const std::string& password_,
                         log_function log_)
    : loop(loop_), settings(settings_), password(password_), log(std::move(log_)),
      keep_alive(loop_, [this] { keep_connections_alive(); })
{
    if (!log)
        log = [](const std::string&) {};
    // libmosquitto reads the CA file when a client is given it, and the
    // first board's client may come long after start (its port opens
    // later): a client made and dropped now turns a bad file into a start-up
    // error rather than a board that silently never connects.
    mqtt_connection::check_settings(settings, password);
}

mqtt_bridge::~mqtt_bridge()
{
    keep_alive.stop();
    for (auto& board : boards)
        board->link->publish_offline();
    // All at once, so that a broker that stopped reading costs one grace
    // period, not one per board.
    std::vector<mqtt_connection*> connections;
    for (auto& board : boards) {
        board->connection->request_stop();
        connections.push_back(board->connection.get());
    }
    mqtt_connection::finish_stopping(connections);
    boards.clear();
}

bool mqtt_bridge::is_connected() const
{
    if (boards.empty())
        return false;
    for (const auto& board : boards)
        if (!board->connection->is_connected())
            return false;
    return true;
}

std::string mqtt_bridge::add_board(board_core& core, const std::string& name)
{
    board_options options;
    options.name = name;
    return add_board(core, options);
}

void mqtt_bridge::record_discovery(const std::string& path, const std::set<std::string>& configured)
{
    record = discovery_record(path, configured);
    if (const auto problem = record.take_problem(); !problem.empty())
        log("MQTT: " + problem + "; boards taken out of the configuration may stay in Home Assistant");
}

std::string mqtt_bridge::add_board(board_core& core, const board_options& options)
{
    const auto& name = options.name;
    const auto& device = core.port().path;
    const auto address = core.address().value_or(0);
    const bool from_port = safe_id(name).empty();
    const auto wanted = make_board_id(name, from_port ? adapter_serial_number(device) : std::string(),
                                      from_port ? usb_socket_name(device) : std::string(), device, address);
    auto id = wanted;
    for (int n = 2; ids.count(id) != 0; ++n)
        id = wanted + "-" + std::to_string(n);
    ids.insert(id);

    boards.push_back(std::make_unique<served_board>());
    served_board& board = *boards.back();
    const board_topics topics(settings.topic_prefix, id);

    std::vector<std::string> subscriptions{relay_set_filter(topics), all_set_filter(topics),
                                           relay_pulse_filter(topics), relay_cycle_filter(topics)};
    if (!settings.discovery_prefix.empty())
        subscriptions.push_back(discovery_status_topic(settings.discovery_prefix));

    connection_events events;
    events.connected = [this, &board] { connected(board); };
    events.disconnected = [this, id](const std::string& why) { log("MQTT: board " + id + ": " + why); };
    // Heard inside libmosquitto's read: the board's side takes it at the
    // loop's next turns.
    events.message = [this, &board](const std::string& topic, const std::string& payload, bool retained) {
        if (board.inbox.put({topic, payload, retained}))
            take_at_next_turn(board);
    };
    auto board_settings = settings;
    board_settings.client_id = client_id_for(id);
    board.connection = std::make_unique<mqtt_connection>(loop, board_settings, password,
                                                         last_will{topics.availability(), payload_offline},
                                                         std::move(subscriptions), std::move(events));
    auto* connection = board.connection.get();
    board.record_name = options.record_name;
    discovered_board discovery;
    discovery.discovery_prefix = settings.discovery_prefix;
    discovery.board = id;
    discovery.node = node_id(options.board_id, settings.machine_name, id);
    discovery.kinds = options.kinds;
    discovery.names = options.names;
    discovery.pulses = options.pulses;
    board.link = std::make_unique<board_topics_link>(
        core, id, settings.topic_prefix, discovery,
        [connection](const std::string& topic, const std::string& payload, bool retained) {
            // Nothing waits while the broker is away: the next connect
            // publishes everything again.
            connection->publish(topic, payload, retained);
        },
        log, options.audit);
    if (started)
        connection->start();
    return id;
}

void mqtt_bridge::start()
{
    if (started)
        return;
    started = true;
    keep_alive.start_every(keep_alive_period);
    for (auto& board : boards)
        board->connection->start();
}

void mqtt_bridge::keep_connections_alive()
{
    for (auto& board : boards)
        board->connection->keep_alive();
}

void mqtt_bridge::connected(served_board& board)
{
    log("MQTT: board " + board.link->id() + " connected to " + board.connection->broker() + " as " +
        client_id_for(board.link->id()));
    board.link->publish_everything();
    if (!board.record_name.empty())
        record.announced(board.record_name, board.link->discovery_topics());
    clear_stale_discovery(*board.connection);
}

void mqtt_bridge::clear_stale_discovery(mqtt_connection& connection)
{
    // Any board's connection will do: an empty retained message on a
    // discovery topic removes that entity from Home Assistant, and the
    // broker's copy with it.
    std::vector<std::string> cleared;
    for (const auto& topic : record.stale())
        if (connection.publish(topic, {}, true))
            cleared.push_back(topic);
    record.cleared(cleared);
    if (!cleared.empty())
        log("MQTT: removed " + std::to_string(cleared.size()) + " Home Assistant discovery message" +
            (cleared.size() == 1 ? "" : "s") + " of boards no longer configured");
    if (const auto problem = record.take_problem(); !problem.empty())
        log("MQTT: " + problem + "; boards taken out of the configuration may stay in Home Assistant");
}

void mqtt_bridge::take_at_next_turn(served_board& board)
{
    loop.post([this, &board, alive = std::weak_ptr<bool>(alive)] {
        if (!alive.expired())
            take_messages(board);
    });
}

void mqtt_bridge::take_messages(served_board& board)
{
    // A few at a turn: the port's answers and the poll's ticks wait on this
    // loop between turns, and a flood must not starve them.
    constexpr std::size_t messages_per_turn = 16;
    bool more = false;
    for (const auto& m : board.inbox.take(messages_per_turn, more))
        message(board, m.topic, m.payload, m.retained);
    if (more)
        take_at_next_turn(board);
}

void mqtt_bridge::message(served_board& board, const std::string& topic, const std::string& payload, bool retained)
{
    if (!settings.discovery_prefix.empty() && topic == discovery_status_topic(settings.discovery_prefix)) {
        // Home Assistant came back and may have forgotten its entities.
        if (payload == payload_online)
            board.link->publish_discovery();
        return;
    }
    // The connection subscribes to this board's set topics only.
    const auto head = board_topics(settings.topic_prefix, board.link->id()).root() + "/";
    if (topic.compare(0, head.size(), head) != 0)
        return;
    board.link->handle_command(topic.substr(head.size()), payload, retained);
}

}  // namespace relay::mqtt
