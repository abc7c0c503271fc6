#include "core/command_audit.h"

namespace relay {

std::string socket_client_origin(unsigned uid, int pid, const std::string& program)
{
    return "socket client uid=" + std::to_string(uid) + " pid=" + std::to_string(pid) +
           " program=" + (program.empty() ? std::string("?") : program);
}

std::string describe_timed(command_kind kind, int relay, std::chrono::milliseconds duration)
{
    return std::string(command_word(kind)) + " relay " + std::to_string(relay) + " for " +
           std::to_string(duration.count()) + " ms";
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

command_outcome outcome_of(const command_result& result)
{
    switch (result.how) {
    case command_result::end::confirmed:
        return confirmed_by(result.reported.value_or(relay_statuses{}));
    case command_result::end::refused:
        return failed_because("the board answered but did not " + describe_command(result.command));
    case command_result::end::no_answer:
        return failed_because(result.at_deadline ? "no answer from the board"
                                                 : "the board fell silent before confirming the command");
    case command_result::end::port_gone:
        return failed_because("the port went away before the board confirmed the command");
    case command_result::end::not_sent:
    case command_result::end::replaced:
    case command_result::end::interlocked:
        break;
    }
    return failed_because(result.why);
}

std::string audit_line(const std::string& command, const std::string& origin, const command_outcome& outcome)
{
    return "command \"" + command + "\" from " + origin + ": " + (outcome.confirmed ? "confirmed, " : "failed: ") +
           outcome.detail;
}

std::string audit_line(const command_result& result, const std::string& origin)
{
    return audit_line(describe_command(result.command), origin, outcome_of(result));
}

mailbox_audit::mailbox_audit(board_core& board, audit_function tell) : board(board), tell(std::move(tell))
{
    board.add_listener(this);
}

mailbox_audit::~mailbox_audit() { board.remove_listener(this); }

void mailbox_audit::mailbox_command_finished(const command_result& result)
{
    if (tell)
        tell(audit_line(result, window_origin), result.confirmed());
}

}  // namespace relay
