#include "panel/command_audit.h"

#include <vector>

namespace relay {

std::string socket_client_origin(unsigned uid, int pid, const std::string& program)
{
    return "socket client uid=" + std::to_string(uid) + " pid=" + std::to_string(pid) +
           " program=" + (program.empty() ? std::string("?") : program);
}

std::string mqtt_origin(const std::string& topic) { return "MQTT topic " + topic; }

command_outcome confirmed_by(const relay_statuses& reported)
{
    std::string words = "the board reports";
    for (std::size_t i = 0; i < reported.size(); ++i)
        words += " " + std::to_string(i + 1) + "=" + status_word(reported[i]);
    return {true, words};
}

command_outcome failed_because(const std::string& why) { return {false, why}; }

std::string audit_line(const std::string& command, const std::string& origin, const command_outcome& outcome)
{
    return "command \"" + command + "\" from " + origin + ": " + (outcome.confirmed ? "confirmed, " : "failed: ") +
           outcome.detail;
}

command_audit::command_audit(panel_controller& board, audit_function tell, window_commands window)
    : board(board), tell(std::move(tell)), window(window)
{
    board.add_observer(this);
}

command_audit::~command_audit() { board.remove_observer(this); }

void command_audit::follow(client_ticket ticket, const command_tuple& command, std::string origin)
{
    give_up_oldest_past_bound();
    entries[ticket] = {command, std::move(origin), false, 0, next_order++};
}

void command_audit::finish(std::uint64_t key, const command_outcome& outcome)
{
    const auto it = entries.find(key);
    if (it == entries.end())
        return;
    const auto line = audit_line(describe_command(it->second.command), it->second.origin, outcome);
    entries.erase(it);
    if (tell)
        tell(line, outcome.confirmed);
}

void command_audit::client_command_sent(client_ticket ticket)
{
    const auto it = entries.find(ticket);
    if (it != entries.end())
        it->second.sent = true;
}

void command_audit::client_command_dropped(client_ticket ticket, const std::string& why)
{
    finish(ticket, failed_because(why));
}

void command_audit::window_command_sent(const command_tuple& command)
{
    if (window != window_commands::followed)
        return;
    give_up_oldest_past_bound();
    entries[next_window_key--] = {command, window_origin, true, 0, next_order++};
}

void command_audit::give_up_oldest_past_bound()
{
    // A board already silent when a command went out never changes the
    // link again, so nothing else would end that command's wait.
    if (entries.size() < most_followed)
        return;
    auto oldest = entries.end();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it->second.sent && (oldest == entries.end() || it->second.order < oldest->second.order))
            oldest = it;
    if (oldest != entries.end())
        finish(oldest->first, failed_because("no answer from the board"));
}

void command_audit::status_frame_accepted(const relay_statuses& reported)
{
    std::vector<std::pair<std::uint64_t, command_outcome>> ended;
    for (auto& [key, e] : entries) {
        // Only frames after the command went out can prove it.
        if (!e.sent)
            continue;
        if (confirms(e.command, reported))
            ended.emplace_back(key, confirmed_by(reported));
        else if (++e.frames_seen >= frames_before_refusal)
            ended.emplace_back(key, failed_because("the board answered but did not " + describe_command(e.command)));
    }
    for (const auto& [key, outcome] : ended)
        finish(key, outcome);
}

void command_audit::link_changed(link_condition now, const relay_statuses&)
{
    if (now == link_condition::answering)
        return;
    // Waiting ones hear of a lost port through client_command_dropped.
    const std::string why = now == link_condition::lost ? "the port went away before the board confirmed the command"
                                                        : "the board fell silent before confirming the command";
    std::vector<std::uint64_t> sent;
    for (const auto& [key, e] : entries)
        if (e.sent)
            sent.push_back(key);
    for (const auto key : sent)
        finish(key, failed_because(why));
}

}  // namespace relay
