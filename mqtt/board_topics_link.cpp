#include "mqtt/board_topics_link.h"

#include "mqtt/discovery.h"
#include "mqtt/set_command.h"

namespace relay::mqtt {
namespace {

// "MQ" in the top bytes: the daemon's socket clients count up from 0.
constexpr client_ticket first_ticket = 0x4D51'0000'0000'0000ULL;

}  // namespace

board_topics_link::board_topics_link(panel_controller& controller, std::string board_id,
                                     const std::string& topic_prefix, discovered_board discovery_,
                                     publish_function publish_, log_function log_, audit_function audit)
    : logic(controller),
      own{std::move(board_id)},
      topics(topic_prefix, own.id),
      discovery(std::move(discovery_)),
      publish(std::move(publish_)),
      log(std::move(log_)),
      audits(controller,
             audit ? std::move(audit) : [this](const std::string& line, bool) { log(line); },
             command_audit::window_commands::ignored),
      next_ticket(first_ticket)
{
    logic.add_observer(this);
}

board_topics_link::~board_topics_link() { logic.remove_observer(this); }

void board_topics_link::publish_everything()
{
    published_online.reset();
    published_states = {};
    publish_availability(logic.link_now() == link_condition::answering);
    publish_states(logic.reported_statuses(), false);
    publish_discovery();
}

void board_topics_link::publish_discovery()
{
    if (discovery.discovery_prefix.empty())
        return;
    for (const auto& message : board_discovery(discovery, topics))
        publish(message.topic, message.payload, true);
}

std::vector<std::string> board_topics_link::discovery_topics() const
{
    std::vector<std::string> all;
    if (!discovery.discovery_prefix.empty())
        for (const auto& message : board_discovery(discovery, topics))
            all.push_back(message.topic);
    return all;
}

void board_topics_link::publish_offline()
{
    published_online = false;
    publish(topics.availability(), payload_offline, true);
}

void board_topics_link::publish_availability(bool online)
{
    if (published_online == online)
        return;
    published_online = online;
    publish(topics.availability(), online ? payload_online : payload_offline, true);
}

void board_topics_link::publish_states(const relay_statuses& reported, bool only_changes)
{
    for (int i = 0; i < relay_count; ++i) {
        const auto status = reported[static_cast<std::size_t>(i)];
        // An unknown relay keeps whatever the broker last held for it.
        if (status != status_on && status != status_off)
            continue;
        if (only_changes && published_states[static_cast<std::size_t>(i)] == status)
            continue;
        published_states[static_cast<std::size_t>(i)] = status;
        publish(topics.relay_state(i + 1), status == status_on ? payload_on : payload_off, true);
    }
}

void board_topics_link::status_frame_accepted(const relay_statuses& reported)
{
    publish_states(reported, true);
    publish_availability(logic.link_now() == link_condition::answering);
}

void board_topics_link::link_changed(link_condition now, const relay_statuses&)
{
    publish_availability(now == link_condition::answering);
}

void board_topics_link::client_command_sent(client_ticket ticket) { waiting.erase(ticket); }

void board_topics_link::client_command_dropped(client_ticket ticket, const std::string& why)
{
    const auto it = waiting.find(ticket);
    if (it == waiting.end())
        return;
    const auto what = it->second;
    waiting.erase(it);
    // The log has it from the audit, as a failed command.
    publish(topics.error(), what + " was not carried out: " + why, false);
}

void board_topics_link::refuse(const std::string& topic, const std::string& payload, const std::string& why)
{
    const auto line = topic + " " + shown_payload(payload) + " refused: " + why;
    log(line);
    publish(topics.error(), line, false);
}

void board_topics_link::handle_command(const std::string& subtopic, const std::string& payload, bool retained)
{
    const auto topic = topics.root() + "/" + subtopic;
    const auto request = parse_set_request(subtopic, payload, retained, logic.reported_statuses());
    if (request.ignored)
        return;
    if (!request.command) {
        refuse(topic, payload, request.error);
        return;
    }
    // A command queued now would wait for a port that may never come back.
    if (logic.link_now() == link_condition::lost) {
        refuse(topic, payload, "the board's serial port is not open");
        return;
    }
    const auto ticket = next_ticket++;
    if (!logic.queue_client_command(*request.command, ticket)) {
        refuse(topic, payload,
               "the board's command queue is full (" + std::to_string(client_queue_capacity) +
                   " commands waiting); try again later");
        return;
    }
    waiting[ticket] = topic + " " + shown_payload(payload) + " (" + describe_command(*request.command) + ")";
    audits.follow(ticket, *request.command, mqtt_origin(topic));
}

}  // namespace relay::mqtt
