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

#include "panel/panel_controller.h"

#include <functional>
#include <map>
#include <string>

namespace relay {

// Status frames after the send that may still show the old state before a
// command counts as refused: the answer to the command frame itself may
// predate the switch.
constexpr int frames_before_refusal = 3;

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

// command: describe_command's words, or "toggle relay N" while the relay's
// state is not known yet.
std::string audit_line(const std::string& command, const std::string& origin, const command_outcome& outcome);

// Commands followed at once: the controller's queue, and as many sent.
constexpr std::size_t most_followed = 2 * client_queue_capacity;

// Receives each finished line; confirmed tells its priority (info for a
// confirmed command, warning for a failed one).
using audit_function = std::function<void(const std::string& line, bool confirmed)>;

// Follows commands to their end from what the board reports: confirmed by
// a status frame, refused after frames_before_refusal frames that show
// otherwise, failed when the port goes or the board falls silent first, or
// dropped from the queue. The control socket has its own follower (its
// request book), whose verdict is the reply its client gets.
class command_audit : private board_observer {
public:
    enum class window_commands { followed, ignored };

    command_audit(panel_controller& board, audit_function tell, window_commands window);
    ~command_audit();
    command_audit(const command_audit&) = delete;
    command_audit& operator=(const command_audit&) = delete;

    // A client's command has joined the controller's queue under ticket.
    void follow(client_ticket ticket, const command_tuple& command, std::string origin);
    std::size_t following() const { return entries.size(); }

private:
    struct entry {
        command_tuple command;
        std::string origin;
        bool sent = false;
        int frames_seen = 0;
        std::uint64_t order = 0;
    };

    void client_command_sent(client_ticket ticket) override;
    void client_command_dropped(client_ticket ticket, const std::string& why) override;
    void status_frame_accepted(const relay_statuses& reported) override;
    void link_changed(link_condition now, const relay_statuses& reported) override;
    void window_command_sent(const command_tuple& command) override;

    void finish(std::uint64_t key, const command_outcome& outcome);
    void give_up_oldest_past_bound();

    panel_controller& board;
    audit_function tell;
    window_commands window;
    // Client tickets, and the window's commands under keys of their own
    // counted down from the top, where no ticket reaches.
    std::map<std::uint64_t, entry> entries;
    std::uint64_t next_window_key = ~std::uint64_t{0};
    std::uint64_t next_order = 0;
};

}  // namespace relay
