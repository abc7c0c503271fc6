#include "mqtt/board_topics_link.h"

#include "mqtt/discovery.h"
#include "mqtt/set_command.h"

namespace relay::mqtt {

board_topics_link::board_topics_link(board_core& board, std::string board_id, const std::string& topic_prefix,
                                     discovered_board discovery_, publish_function publish_, log_function log_,
                                     audit_function audit_)
    : board(board),
      id_(std::move(board_id)),
      topics(topic_prefix, id_),
      discovery(std::move(discovery_)),
      publish(std::move(publish_)),
      log(std::move(log_)),
      audit(audit_ ? std::move(audit_) : [this](const std::string& line, bool) { log(line); })
{
    board.add_listener(this);
}

board_topics_link::~board_topics_link()
{
    board.forget_sender(this);
    board.remove_listener(this);
}

void board_topics_link::publish_everything()
{
    published_online.reset();
    published_states = {};
    publish_availability(board.link_now() == link_condition::answering);
    publish_states(board.reported_statuses(), false);
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

void board_topics_link::status_reported(const relay_states& states)
{
    publish_states(statuses_of(states), true);
    publish_availability(board.link_now() == link_condition::answering);
}

void board_topics_link::link_changed(link_condition now) { publish_availability(now == link_condition::answering); }

void board_topics_link::command_finished(command_id command, const command_result& result)
{
    const auto it = waiting.find(command);
    if (it == waiting.end())
        return;
    const auto asked = std::move(it->second);
    waiting.erase(it);
    // The log has it from the audit, as a failed command.
    switch (result.how) {
    case command_result::end::not_sent:
    case command_result::end::replaced:
    case command_result::end::interlocked:
        publish(topics.error(), asked.words + " was not carried out: " + result.why, false);
        break;
    default:
        break;
    }
    audit(asked.timed.empty() ? audit_line(result, asked.origin)
                              : audit_line(asked.timed, asked.origin, outcome_of(result)),
          result.confirmed());
}

void board_topics_link::warning(const std::string& text) { publish(topics.error(), text, false); }

void board_topics_link::refuse(const std::string& topic, const std::string& payload, const std::string& why)
{
    const auto line = topic + " " + shown_payload(payload) + " refused: " + why;
    log(line);
    publish(topics.error(), line, false);
}

void board_topics_link::handle_command(const std::string& subtopic, const std::string& payload, bool retained)
{
    const auto topic = topics.root() + "/" + subtopic;
    const auto request = parse_set_request(subtopic, payload, retained, board.reported_statuses());
    if (request.ignored)
        return;
    if (!request.command && !request.timed) {
        refuse(topic, payload, request.error);
        return;
    }
    // A command queued now would wait for a port that may never come back.
    if (board.link_now() == link_condition::lost) {
        refuse(topic, payload, "the board's serial port is not open");
        return;
    }
    if (request.command) {
        if (const auto why = board.interlock_refusal_of(*request.command)) {
            refuse(topic, payload, *why);
            return;
        }
    }
    const auto& timed = request.timed;
    const auto queued = timed ? board.queue_timed(timed->kind, timed->relay, timed->duration, this)
                              : board.queue_command(*request.command, this);
    if (!queued) {
        refuse(topic, payload,
               "the board's command queue is full (" + std::to_string(client_queue_capacity) +
                   " commands waiting); try again later");
        return;
    }
    const auto timed_words = timed ? describe_timed(timed->kind, timed->relay, timed->duration) : std::string();
    waiting[*queued] = {topic + " " + shown_payload(payload) + " (" +
                            (timed ? timed_words : describe_command(*request.command)) + ")",
                        mqtt_origin(topic), timed_words};
}

}  // namespace relay::mqtt
