// A port that goes away while connected: the panel stays connected, shows
// why the indicators read "state", and reopens the port once a second.

#include "panel_fixture.h"

namespace relay::testing {
namespace {

using lost_link = panel_test;

TEST_F(lost_link, the_panel_stays_connected_and_the_watchdog_shows_the_silence)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    device.refuse.push_back({"/dev/ttyUSB0", "The port /dev/ttyUSB0 does not exist."});
    device.unplug("The port ttyUSB0 stopped working (Input/output error).");
    EXPECT_TRUE(logic.port_lost());
    EXPECT_EQ(logic.controls().open_comm.caption, "disconnect");
    const auto sent = device.written.size();
    tick(6);
    EXPECT_EQ(device.written.size(), sent);
    EXPECT_EQ(indicator(1), "state");
    EXPECT_NE(logic.controls().Label6[0].tooltip.find("stopped working"), std::string::npos);
    EXPECT_NE(logic.controls().Label6[0].tooltip.find("Reopening"), std::string::npos);
}

TEST_F(lost_link, the_port_is_reopened_once_a_second_and_polling_resumes_by_itself)
{
    ASSERT_TRUE(connect_panel());
    tick();
    device.refuse.push_back({"/dev/ttyUSB0", "The port /dev/ttyUSB0 does not exist."});
    device.unplug();
    tick(reopen_ticks * 3);
    // Three attempts, none got through: the fake records only successful opens.
    EXPECT_EQ(device.opened_paths.size(), 1u);
    EXPECT_NE(logic.controls().Label6[0].tooltip.find("3 attempts"), std::string::npos);

    device.refuse.clear();
    const auto sent = device.written.size();
    tick(reopen_ticks);
    EXPECT_FALSE(logic.port_lost());
    EXPECT_EQ(device.opened_paths.size(), 2u);
    EXPECT_EQ(device.written.size(), sent + 1);
    answer({1, 2, 1, 2});
    EXPECT_EQ(indicator(2), "on");
}

TEST_F(lost_link, reopening_resolves_the_port_number_afresh)
{
    ASSERT_TRUE(connect_panel());
    device.unplug();
    // The adapter comes back under another name; port 1 still means the first.
    catalog.entries[0].path = "/dev/ttyUSB1";
    tick(reopen_ticks);
    EXPECT_EQ(device.opened_paths.back(), "/dev/ttyUSB1");
}

TEST_F(lost_link, disconnecting_stops_the_retries)
{
    ASSERT_TRUE(connect_panel());
    device.unplug();
    logic.open_comm_Click();
    EXPECT_FALSE(logic.port_lost());
    EXPECT_EQ(logic.controls().open_comm.caption, "connect");
    tick(reopen_ticks * 2);
    EXPECT_EQ(device.opened_paths.size(), 1u);
}

TEST_F(lost_link, a_command_clicked_while_the_port_is_gone_goes_out_once_it_returns)
{
    ASSERT_TRUE(connect_panel());
    device.unplug();
    logic.open_Click(4);
    tick(reopen_ticks);
    EXPECT_EQ(last_sent(), encode_command(1, {1, {0, 0, 0, 2}}));
}

TEST_F(lost_link, garbled_answers_are_named_in_the_tooltip)
{
    ASSERT_TRUE(connect_panel());
    for (int i = 0; i < 6; ++i) {
        tick();
        device.arrive(std::vector<std::uint8_t>{0x22, 1, 2, 3, 4, 5, 6, 7});
    }
    EXPECT_EQ(indicator(1), "state");
    EXPECT_NE(logic.controls().Label6[0].tooltip.find("garbled"), std::string::npos);
}

// The tooltips are rebuilt only when what they explain changes; each change
// must still reach them, and a return to an earlier condition too.
TEST_F(lost_link, the_tooltips_follow_every_change_of_what_they_explain)
{
    const auto tip = [this](int relay) { return logic.controls().Label6[static_cast<std::size_t>(relay - 1)].tooltip; };
    const std::string no_answer_yet =
        "No answer from the board yet. Check the address, the cable and the board's power.";
    EXPECT_EQ(tip(1), "Not connected.");
    ASSERT_TRUE(connect_panel());
    tick();
    EXPECT_EQ(tip(1), no_answer_yet);

    answer({2, 1, 0, 0});
    EXPECT_EQ(tip(1), "Relay 1 is on, as the board last reported. Click to switch it off.");
    EXPECT_EQ(tip(2), "Relay 2 is off, as the board last reported. Click to switch it on.");
    // An indicator the frame leaves at "state" explains the silence before.
    EXPECT_EQ(tip(3), "The board stopped answering. Check its power and the cable.");
    tick();
    answer({1, 1, 0, 0});
    EXPECT_EQ(tip(1), "Relay 1 is off, as the board last reported. Click to switch it on.");

    tick(6);
    EXPECT_EQ(tip(1), "The board stopped answering. Check its power and the cable.");
    device.arrive(std::vector<std::uint8_t>{0x22, 1, 2, 3, 4, 5, 6, 7});
    tick();
    EXPECT_NE(tip(2).find("(1 bad frame)"), std::string::npos) << tip(2);
    device.arrive(std::vector<std::uint8_t>{0x22, 1, 2, 3, 4, 5, 6, 7});
    tick();
    EXPECT_NE(tip(2).find("(2 bad frames)"), std::string::npos) << tip(2);

    logic.set_add_text("x");
    tick();
    EXPECT_EQ(tip(4), "The address field holds no board address (0 to 255), so nothing is sent.");
    logic.set_add_text("1");
    tick();
    EXPECT_NE(tip(4).find("(2 bad frames)"), std::string::npos) << tip(4);

    device.refuse.push_back({"/dev/ttyUSB0", "The port /dev/ttyUSB0 does not exist."});
    device.unplug("The port /dev/ttyUSB0 stopped working: gone.");
    EXPECT_EQ(tip(3), "The port /dev/ttyUSB0 stopped working: gone.\nReopening the port every second.");
    tick(reopen_ticks);
    EXPECT_EQ(tip(3), "The port /dev/ttyUSB0 does not exist.\nReopening the port every second (1 attempt so far).");
    tick(reopen_ticks);
    EXPECT_EQ(tip(3), "The port /dev/ttyUSB0 does not exist.\nReopening the port every second (2 attempts so far).");

    device.refuse.clear();
    tick(reopen_ticks);
    EXPECT_FALSE(logic.port_lost());
    answer({2, 2, 2, 2});
    EXPECT_EQ(tip(4), "Relay 4 is on, as the board last reported. Click to switch it off.");
    logic.open_comm_Click();
    EXPECT_EQ(tip(4), "Not connected.");
}

}  // namespace
}  // namespace relay::testing
