// The audit of who switched what: each command that goes out on the line
// ends in exactly one line, confirmed by the board's answer or failed with
// the reason, stepped tick by tick on an in-memory port. The window's
// commands are told by the mailbox's audit, a client's by its own sender.

#include "core/command_audit.h"
#include "core_rig.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace relay::testing {
namespace {

struct heard {
    std::string line;
    bool confirmed = false;
    bool operator==(const heard& o) const { return line == o.line && confirmed == o.confirmed; }
};

std::ostream& operator<<(std::ostream& out, const heard& h)
{
    return out << (h.confirmed ? "[confirmed] " : "[failed] ") << h.line;
}

const std::string from_mqtt = "MQTT topic relay-panel/bench/relay/3/set";

enum class window_audit { attached, absent };

struct audit_rig : core_rig, board_core::sender {
    explicit audit_rig(window_audit window)
    {
        if (window == window_audit::attached)
            window_lines = std::make_unique<mailbox_audit>(board, [this](const std::string& line, bool confirmed) {
                lines.push_back({line, confirmed});
            });
    }
    ~audit_rig() { board.forget_sender(this); }

    // A client's command joins the queue; its end comes back here.
    void client(const command_tuple& command) { ASSERT_TRUE(board.queue_command(command, this)); }

    void command_finished(command_id, const command_result& result) override
    {
        lines.push_back({audit_line(result, from_mqtt), result.confirmed()});
    }

    std::vector<heard> lines;
    std::unique_ptr<mailbox_audit> window_lines;
};

struct audit_row {
    const char* name;
    std::function<void(audit_rig&)> steps;
    std::vector<heard> lines;
    window_audit window = window_audit::attached;
};

std::ostream& operator<<(std::ostream& os, const audit_row& r) { return os << r.name; }

class audit_lines : public ::testing::TestWithParam<audit_row> {};

TEST_P(audit_lines, one_line_per_command_that_went_out)
{
    const auto& row = GetParam();
    audit_rig rig(row.window);
    ASSERT_TRUE(rig.connect());
    row.steps(rig);
    EXPECT_EQ(rig.lines, row.lines);
    // A command still on the line would end at its deadline with a line of its own.
    rig.tick(command_deadline_ticks + 1);
    EXPECT_EQ(rig.lines, row.lines) << "a command was still waiting";
}

const std::string window_relay_2_on = "command \"switch relay 2 on\" from the window: ";
const std::string client_relay_3_on = "command \"switch relay 3 on\" from " + from_mqtt + ": ";

INSTANTIATE_TEST_SUITE_P(
    outcomes, audit_lines,
    ::testing::Values(
        audit_row{"window_click_confirmed",
                  [](audit_rig& r) {
                      r.board.set_mailbox(single_relay(2, action_on));
                      r.tick();
                      r.answer({1, 2, 1, 1});
                  },
                  {{window_relay_2_on + "confirmed, the board reports 1=off 2=on 3=off 4=off", true}}},
        audit_row{"window_click_refused_after_three_frames",
                  [](audit_rig& r) {
                      r.board.set_mailbox(all_relays(action_off));
                      r.tick();
                      r.answer({2, 2, 2, 2});
                      r.answer({2, 2, 2, 2});
                      EXPECT_TRUE(r.lines.empty()) << "two frames may still predate the switch";
                      r.answer({2, 1, 2, 2});
                  },
                  {{"command \"switch all relays off\" from the window: failed: the board answered but did not "
                    "switch all relays off",
                    false}}},
        // A later click in the same tick replaces the earlier one, which
        // never reaches the board.
        audit_row{"window_click_replaced_in_the_same_tick",
                  [](audit_rig& r) {
                      r.board.set_mailbox(single_relay(2, action_on));
                      r.board.set_mailbox(single_relay(2, action_off));
                      r.tick();
                      r.answer({1, 1, 1, 1});
                  },
                  {{"command \"switch relay 2 off\" from the window: confirmed, the board reports 1=off 2=off "
                    "3=off 4=off",
                    true}}},
        // The window's command reaches the mailbox's listeners and no
        // client's sender: without the mailbox's audit nobody tells it.
        audit_row{"window_click_told_by_no_client",
                  [](audit_rig& r) {
                      r.board.set_mailbox(single_relay(2, action_on));
                      r.tick();
                      r.answer({1, 2, 1, 1});
                  },
                  {},
                  window_audit::absent},
        // A frame that came before the command went out proves nothing.
        audit_row{"client_confirmed_only_by_a_frame_after_the_send",
                  [](audit_rig& r) {
                      r.client(single_relay(3, action_on));
                      r.answer({1, 1, 2, 1});
                      EXPECT_TRUE(r.lines.empty());
                      r.tick();
                      r.answer({1, 1, 2, 1});
                  },
                  {{client_relay_3_on + "confirmed, the board reports 1=off 2=off 3=on 4=off", true}}},
        audit_row{"client_dropped_from_the_queue_when_the_port_goes",
                  [](audit_rig& r) {
                      r.client(single_relay(3, action_on));
                      r.device.unplug("The port ttyUSB0 stopped working.");
                  },
                  {{client_relay_3_on + "failed: The port ttyUSB0 stopped working.", false}}},
        audit_row{"client_sent_then_the_port_goes",
                  [](audit_rig& r) {
                      r.client(single_relay(3, action_on));
                      r.tick();
                      r.device.unplug();
                  },
                  {{client_relay_3_on + "failed: the port went away before the board confirmed the command", false}}},
        audit_row{"client_sent_then_the_board_falls_silent",
                  [](audit_rig& r) {
                      r.answer({1, 1, 1, 1});
                      r.client(single_relay(3, action_on));
                      r.tick(watchdog_reload + 2);
                  },
                  {{client_relay_3_on + "failed: the board fell silent before confirming the command", false}}},
        audit_row{"window_and_client_each_in_their_own_words",
                  [](audit_rig& r) {
                      r.board.set_mailbox(single_relay(2, action_on));
                      r.client(single_relay(3, action_on));
                      r.tick(2);
                      r.answer({1, 2, 2, 1});
                  },
                  {{window_relay_2_on + "confirmed, the board reports 1=off 2=on 3=on 4=off", true},
                   {client_relay_3_on + "confirmed, the board reports 1=off 2=on 3=on 4=off", true}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Clicks sent to a board that was silent all along never change the link;
// each ends at its deadline rather than waiting for ever.
TEST(command_audit, clicks_to_a_board_silent_all_along_each_end_at_their_deadline)
{
    audit_rig rig(window_audit::attached);
    ASSERT_TRUE(rig.connect());
    constexpr int clicks = 3 * command_deadline_ticks;
    for (int t = 1; t <= clicks; ++t) {
        rig.board.set_mailbox(single_relay(1, action_on));
        rig.tick();
        ASSERT_EQ(rig.lines.size(), static_cast<std::size_t>(std::max(0, t - command_deadline_ticks))) << "tick " << t;
    }
    rig.tick(command_deadline_ticks);
    ASSERT_EQ(rig.lines.size(), static_cast<std::size_t>(clicks));
    for (const auto& line : rig.lines)
        EXPECT_EQ(line,
                  (heard{"command \"switch relay 1 on\" from the window: failed: no answer from the board", false}));
}

TEST(command_audit, origins_name_the_client)
{
    EXPECT_EQ(socket_client_origin(1000, 4242, "relayctl"), "socket client uid=1000 pid=4242 program=relayctl");
    EXPECT_EQ(socket_client_origin(0, 1, ""), "socket client uid=0 pid=1 program=?");
    EXPECT_EQ(mqtt_origin("relay-panel/pump/all/set"), "MQTT topic relay-panel/pump/all/set");
}

}  // namespace
}  // namespace relay::testing
