// Start-up, connecting, disconnecting and reconnecting.

#include "panel_fixture.h"

namespace relay::testing {
namespace {

using panel_states = panel_test;

void expect_disconnected(const panel_controls& c)
{
    for (int i = 0; i < relay_count; ++i) {
        EXPECT_FALSE(c.open[i].enabled);
        EXPECT_FALSE(c.close[i].enabled);
        EXPECT_FALSE(c.Label6[i].enabled);
        EXPECT_EQ(c.Label6[i].caption, "state");
    }
    EXPECT_FALSE(c.openall.enabled);
    EXPECT_FALSE(c.closeall.enabled);
    EXPECT_FALSE(c.Timer1.running);
    EXPECT_TRUE(c.chuankou_num.enabled);
    EXPECT_EQ(c.open_comm.caption, "connect");
    EXPECT_TRUE(c.add.enabled);
}

void expect_connected(const panel_controls& c)
{
    for (int i = 0; i < relay_count; ++i) {
        EXPECT_TRUE(c.open[i].enabled);
        EXPECT_TRUE(c.close[i].enabled);
        EXPECT_TRUE(c.Label6[i].enabled);
    }
    EXPECT_TRUE(c.openall.enabled);
    EXPECT_TRUE(c.closeall.enabled);
    EXPECT_TRUE(c.Timer1.running);
    EXPECT_FALSE(c.chuankou_num.enabled);
    EXPECT_EQ(c.open_comm.caption, "disconnect");
    EXPECT_TRUE(c.add.enabled);
}

TEST_F(panel_states, start_up_is_disconnected_with_an_empty_mailbox)
{
    expect_disconnected(logic.controls());
    EXPECT_EQ(logic.controls().add.text, "1");
    EXPECT_EQ(logic.controls().chuankou_num.text, "1");
    EXPECT_FALSE(logic.pending_flag());
    EXPECT_EQ(logic.pending_cmd(), status_query);
    EXPECT_EQ(logic.alive_count(), 0);
    EXPECT_FALSE(device.is_open());
    EXPECT_TRUE(device.written.empty());
}

TEST_F(panel_states, connecting_opens_the_numbered_port_and_enables_the_relays)
{
    ASSERT_TRUE(connect_panel());
    expect_connected(logic.controls());
    EXPECT_TRUE(device.is_open());
    for (int relay = 1; relay <= 4; ++relay) {
        EXPECT_EQ(indicator(relay), "state");
        EXPECT_EQ(indicator_colour(relay), colour_black);
    }
}

TEST_F(panel_states, disconnecting_closes_the_port_stops_ticks_and_forgets_what_was_shown)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 1, 2, 1});
    logic.open_comm_Click();
    expect_disconnected(logic.controls());
    EXPECT_FALSE(device.is_open());
    // The colour stays until the next connect paints the indicators black.
    EXPECT_EQ(indicator_colour(1), colour_green);
    EXPECT_EQ(indicator_colour(2), colour_red);
    const auto sent = device.written.size();
    tick();
    EXPECT_EQ(device.written.size(), sent);
}

TEST_F(panel_states, reconnecting_opens_the_port_now_named_and_starts_at_state)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    logic.open_comm_Click();
    logic.set_chuankou_num_text("2");
    logic.open_comm_Click();
    expect_connected(logic.controls());
    EXPECT_EQ(device.opened_paths, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyS0"}));
    EXPECT_EQ(indicator(1), "state");
    EXPECT_EQ(indicator_colour(1), colour_black);
}

TEST_F(panel_states, a_command_waiting_at_disconnect_goes_out_on_the_first_tick_after_reconnect)
{
    ASSERT_TRUE(connect_panel());
    logic.openall_Click();
    logic.open_comm_Click();
    EXPECT_TRUE(logic.pending_flag());
    logic.open_comm_Click();
    tick();
    EXPECT_EQ(last_sent(), encode_command(1, {1, {2, 2, 2, 2}}));
}

TEST_F(panel_states, the_watchdog_carries_on_across_a_reconnect)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    tick(2);
    logic.open_comm_Click();
    logic.open_comm_Click();
    EXPECT_EQ(logic.alive_count(), 3);
}

TEST_F(panel_states, a_port_that_will_not_open_leaves_the_panel_disconnected_and_says_why)
{
    // The reason as the device gives it, and what the window adds for the
    // programs that hold the port.
    struct row {
        const char* reason;
        std::size_t holders;
        const char* message;
    };
    const row rows[] = {
        {"The port /dev/ttyUSB0 does not exist.", 0, "The port /dev/ttyUSB0 does not exist."},
        {"The port /dev/ttyUSB0 is in use by another program.", 1,
         "The port /dev/ttyUSB0 is in use by another program. Close it, then connect again."},
        {"The port /dev/ttyUSB0 is in use by minicom (pid 7).", 1,
         "The port /dev/ttyUSB0 is in use by minicom (pid 7). Close it, then connect again."},
        {"The port /dev/ttyUSB0 is in use by minicom (pid 7) and relayd (pid 9).", 2,
         "The port /dev/ttyUSB0 is in use by minicom (pid 7) and relayd (pid 9). Close them, then connect again."},
    };
    for (const auto& r : rows) {
        device.refuse = {{"/dev/ttyUSB0", r.reason, r.holders}};
        view.messages.clear();
        logic.open_comm_Click();
        expect_disconnected(logic.controls());
        ASSERT_EQ(view.messages.size(), 1u) << r.reason;
        EXPECT_EQ(view.messages[0].first, "Cannot connect");
        EXPECT_EQ(view.messages[0].second, r.message);
    }
}

TEST_F(panel_states, port_text_that_names_no_port_is_refused_before_any_open)
{
    for (const std::string text : {"0", "", "99999", "5"}) {
        logic.set_chuankou_num_text(text);
        logic.open_comm_Click();
        expect_disconnected(logic.controls());
    }
    EXPECT_TRUE(device.opened_paths.empty());
    ASSERT_EQ(view.messages.size(), 4u);
    EXPECT_NE(view.messages[3].second.find("There is no port 5"), std::string::npos);
}

TEST_F(panel_states, a_device_name_in_the_port_field_is_opened_as_it_stands)
{
    logic.set_chuankou_num_text("/dev/pts/7");
    ASSERT_TRUE(connect_panel());
    EXPECT_EQ(device.opened_paths, std::vector<std::string>{"/dev/pts/7"});
}

}  // namespace
}  // namespace relay::testing
