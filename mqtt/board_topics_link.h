#pragma once
// One board on the broker: publishes what its status frames and its link
// say, and turns messages on its set topics into client commands. Lives on
// the session's thread, like the controller it watches.

#include "mqtt/discovery.h"
#include "mqtt/topics.h"
#include "panel/command_audit.h"
#include "panel/panel_controller.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace relay::mqtt {

using publish_function = std::function<void(const std::string& topic, const std::string& payload, bool retained)>;
using log_function = std::function<void(const std::string& line)>;

class board_topics_link : private board_observer {
public:
    // discovery.discovery_prefix empty: no discovery messages. audit hears
    // one line per command (command_audit.h); without it, log does.
    board_topics_link(panel_controller& controller, std::string board_id, const std::string& topic_prefix,
                      discovered_board discovery, publish_function publish, log_function log,
                      audit_function audit = {});
    ~board_topics_link();
    board_topics_link(const board_topics_link&) = delete;
    board_topics_link& operator=(const board_topics_link&) = delete;

    const std::string& id() const { return own.id; }

    // After every (re)connect: retained messages may be gone with a
    // restarted broker, so all of them go out again.
    void publish_everything();
    void publish_discovery();
    // The topics publish_discovery() publishes on; none with discovery off.
    std::vector<std::string> discovery_topics() const;
    // relayd stops cleanly: the board is no longer served.
    void publish_offline();

    // A message on <prefix>/<board>/<subtopic>.
    void handle_command(const std::string& subtopic, const std::string& payload, bool retained);

private:
    void client_command_sent(client_ticket ticket) override;
    void client_command_dropped(client_ticket ticket, const std::string& why) override;
    void status_frame_accepted(const relay_statuses& reported) override;
    void link_changed(link_condition now, const relay_statuses& reported) override;

    void publish_availability(bool online);
    void publish_states(const relay_statuses& reported, bool only_changes);
    void refuse(const std::string& topic, const std::string& payload, const std::string& why);

    panel_controller& logic;
    struct {
        std::string id;
    } own;
    board_topics topics;
    discovered_board discovery;
    publish_function publish;
    log_function log;
    command_audit audits;

    std::optional<bool> published_online;
    relay_statuses published_states{};
    // Our commands still waiting in the controller's queue, with the words
    // to tell if one is dropped. The tickets start high so as not to meet
    // those of the daemon's socket clients.
    std::map<client_ticket, std::string> waiting;
    client_ticket next_ticket;
};

}  // namespace relay::mqtt
