#pragma once
// One log line for every command that asks the board to switch a relay:
// what was asked, who asked, and whether the board confirmed it, so that
// "who turned the pump on at 03:12" has an answer in the log.
//
//   command "switch relay 2 on" from socket client uid=1000 pid=4242 program=relayctl: confirmed, the board reports 1=off 2=on 3=off 4=off
//   command "switch all relays off" from MQTT topic relay-panel/cabinet/all/set: failed: the port went away ...
//   command "switch relay 1 on" from the window: confirmed, the board reports 1=on 2=off 3=off 4=off
//
// Whoever writes the line adds the board's name and the priority.

#include "core/board_core.h"

#include <chrono>
#include <functional>
#include <string>

namespace relay {

// Who asked, in the words of the audit line.
std::string socket_client_origin(unsigned uid, int pid, const std::string& program);
std::string mqtt_origin(const std::string& topic);
constexpr const char* window_origin = "the window";

struct command_outcome {
    bool confirmed = false;
    // Confirmed: the relays as the board reports them; failed: why.
    std::string detail;
};
command_outcome confirmed_by(const relay_statuses& reported);
command_outcome failed_because(const std::string& why);
// How the board core's verdict reads in the log.
command_outcome outcome_of(const command_result& result);

// "pulse relay 2 for 500 ms": a pulse or a cycle as its audit line names it.
std::string describe_timed(command_kind kind, int relay, std::chrono::milliseconds duration);

// command: describe_command's words, describe_timed's, or "toggle relay N" while the relay's
// state is not known yet.
std::string audit_line(const std::string& command, const std::string& origin, const command_outcome& outcome);
std::string audit_line(const command_result& result, const std::string& origin);

// Receives each finished line; confirmed tells its priority (info for a
// confirmed command, warning for a failed one).
using audit_function = std::function<void(const std::string& line, bool confirmed)>;

// The window's own commands, each told once the board core has settled it.
class mailbox_audit : private board_core::listener {
public:
    mailbox_audit(board_core& board, audit_function tell);
    ~mailbox_audit();
    mailbox_audit(const mailbox_audit&) = delete;
    mailbox_audit& operator=(const mailbox_audit&) = delete;

private:
    void mailbox_command_finished(const command_result& result) override;

    board_core& board;
    audit_function tell;
};

}  // namespace relay
