#pragma once
// One board on the broker: publishes what its status frames and its link
// say, and turns messages on its set topics into client commands. Lives on
// the session's thread, like the board core it watches.

#include "mqtt/discovery.h"
#include "mqtt/topics.h"
#include "core/board_core.h"
#include "core/command_audit.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace relay::mqtt {

using publish_function = std::function<void(const std::string& topic, const std::string& payload, bool retained)>;
using log_function = std::function<void(const std::string& line)>;

class board_topics_link : private board_core::listener, private board_core::sender {
public:
    // discovery.discovery_prefix empty: no discovery messages. audit hears
    // one line per command (command_audit.h); without it, log does.
    board_topics_link(board_core& board, std::string board_id, const std::string& topic_prefix,
                      discovered_board discovery, publish_function publish, log_function log,
                      audit_function audit = {});
    ~board_topics_link();
    board_topics_link(const board_topics_link&) = delete;
    board_topics_link& operator=(const board_topics_link&) = delete;

    const std::string& id() const { return id_; }

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
    void status_reported(const relay_states& states) override;
    void link_changed(link_condition now) override;
    void command_finished(command_id command, const command_result& result) override;
    // Published on the error topic; the board's owner logs it already.
    void warning(const std::string& text) override;

    void publish_availability(bool online);
    void publish_states(const relay_statuses& reported, bool only_changes);
    void refuse(const std::string& topic, const std::string& payload, const std::string& why);

    board_core& board;
    std::string id_;
    board_topics topics;
    discovered_board discovery;
    publish_function publish;
    log_function log;
    audit_function audit;

    std::optional<bool> published_online;
    relay_statuses published_states{};
    // Our commands not yet settled: the words to tell if one is dropped, and
    // the topic that asked and, for a pulse or a cycle, what it asked, for
    // the audit.
    struct waiting_command {
        std::string words;
        std::string origin;
        std::string timed;
    };
    std::map<command_id, waiting_command> waiting;
};

}  // namespace relay::mqtt
