// The audit of who switched what: each command that goes out on the line
// ends in exactly one line, confirmed by the board's answer or failed with
// the reason, stepped tick by tick on an in-memory port.

#include "panel/command_audit.h"
#include "panel_fixture.h"

#include <functional>

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

constexpr client_ticket ticket = 7;
const std::string from_mqtt = "MQTT topic relay-panel/bench/relay/3/set";

class audit_rig : public panel_test {
public:
    explicit audit_rig(command_audit::window_commands window)
        : audit(
              logic,
              [this](const std::string& line, bool confirmed) {
                  lines.push_back({line, confirmed});
              },
              window)
    {}
    void TestBody() override {}
    using panel_test::answer;
    using panel_test::connect_panel;
    using panel_test::device;
    using panel_test::logic;
    using panel_test::tick;

    // A client's command joins the queue and the audit follows it.
    void client(const command_tuple& command)
    {
        ASSERT_TRUE(logic.queue_client_command(command, ticket));
        audit.follow(ticket, command, from_mqtt);
    }

    command_audit audit;
    std::vector<heard> lines;
};

struct audit_row {
    const char* name;
    std::function<void(audit_rig&)> steps;
    std::vector<heard> lines;
    command_audit::window_commands window = command_audit::window_commands::followed;
};

class audit_lines : public ::testing::TestWithParam<audit_row> {};

TEST_P(audit_lines, one_line_per_command_that_went_out)
{
    const auto& row = GetParam();
    audit_rig rig(row.window);
    ASSERT_TRUE(rig.connect_panel());
    row.steps(rig);
    EXPECT_EQ(rig.lines, row.lines);
    EXPECT_EQ(rig.audit.following(), 0u) << "a command left waiting for ever";
}

const std::string window_relay_2_on = "command \"switch relay 2 on\" from the window: ";
const std::string client_relay_3_on = "command \"switch relay 3 on\" from " + from_mqtt + ": ";

INSTANTIATE_TEST_SUITE_P(
    outcomes, audit_lines,
    ::testing::Values(
        audit_row{"window_click_confirmed",
                  [](audit_rig& r) {
                      r.logic.open_Click(2);
                      r.tick();
                      r.answer({1, 2, 1, 1});
                  },
                  {{window_relay_2_on + "confirmed, the board reports 1=off 2=on 3=off 4=off", true}}},
        audit_row{"window_click_refused_after_three_frames",
                  [](audit_rig& r) {
                      r.logic.closeall_Click();
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
                      r.logic.open_Click(2);
                      r.logic.close_Click(2);
                      r.tick();
                      r.answer({1, 1, 1, 1});
                  },
                  {{"command \"switch relay 2 off\" from the window: confirmed, the board reports 1=off 2=off "
                    "3=off 4=off",
                    true}}},
        audit_row{"window_ignored_when_another_audit_hears_it",
                  [](audit_rig& r) {
                      r.logic.open_Click(2);
                      r.tick();
                      r.answer({1, 2, 1, 1});
                  },
                  {},
                  command_audit::window_commands::ignored},
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
                  {{client_relay_3_on + "failed: the board fell silent before confirming the command", false}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Clicks sent to a board that was silent all along never change the link;
// the audit gives the oldest up rather than growing without end.
TEST(command_audit, follows_a_bounded_number_of_commands)
{
    audit_rig rig(command_audit::window_commands::followed);
    ASSERT_TRUE(rig.connect_panel());
    for (std::size_t i = 0; i < most_followed + 3; ++i) {
        rig.logic.open_Click(1);
        rig.tick();
    }
    EXPECT_EQ(rig.audit.following(), most_followed);
    ASSERT_EQ(rig.lines.size(), 3u);
    EXPECT_EQ(rig.lines[0],
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
