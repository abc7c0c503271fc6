// A port that goes away while connected: the panel stays connected, shows
// why the indicators read "state", and reopens the port once a second. A
// port that stays open while the board falls silent is reopened too, after
// 5 s and then every 30 s, with nothing to show but "state".

#include "panel_fixture.h"

#include <ostream>

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

// What the programs beside the window hear of the link from the board core.
struct link_listener : board_core::listener {
    void link_changed(link_condition now) override { links.push_back(now); }
    void silent_port_reopened(int times) override { reopens.push_back(times); }
    std::vector<link_condition> links;
    std::vector<int> reopens;
};

class silent_port_test : public panel_test {
protected:
    silent_port_test() { board.add_listener(&heard); }
    ~silent_port_test() override { board.remove_listener(&heard); }

    // Ticks until the port is next reopened, at most `limit` ticks; how
    // many it took, or 0 if it was not reopened.
    int ticks_to_next_reopen(int limit)
    {
        const auto opens = device.opened_paths.size();
        for (int t = 1; t <= limit; ++t) {
            tick();
            if (device.opened_paths.size() != opens)
                return t;
        }
        return 0;
    }

    link_listener heard;
};

const std::vector<std::uint8_t> garbled{0x22, 1, 2, 3, 4, 5, 6, 7};

struct silence_case {
    std::string name;
    bool answered_before = false;  // a valid answer, then silence
    bool garbled_answers = false;  // bytes on every tick, none a valid frame
    std::string address = "1";
    // What the indicators' tooltip says all along.
    std::string tooltip_part;
    // Ticks from the start of the silence to the first and second reopening;
    // 0 for none.
    int first_reopen = 0;
    int second_reopen = 0;
};

std::ostream& operator<<(std::ostream& os, const silence_case& c) { return os << c.name; }

class silence : public silent_port_test, public ::testing::WithParamInterface<silence_case> {};

// The frames on the line never pause: the reopening comes between one
// tick's frame and the next. The indicators read "state", their tooltip
// explains the silence as it would without, and the link stays "silent".
TEST_P(silence, reopens_the_port_after_5_s_then_every_30_s_between_two_frames)
{
    const auto& c = GetParam();
    ASSERT_TRUE(connect_panel());
    if (c.answered_before) {
        tick();
        answer({2, 1, 1, 1});
    }
    logic.set_add_text(c.address);
    const bool asked = c.address == "1";
    heard.links.clear();

    std::vector<int> reopened_at;
    const int ticks = silent_port_reopen_ticks + silent_port_repeat_ticks + 20;
    for (int t = 1; t <= ticks; ++t) {
        const auto opens = device.opened_paths.size();
        const auto sent = device.written.size();
        tick();
        if (c.garbled_answers)
            device.arrive(garbled);
        ASSERT_EQ(device.written.size(), sent + (asked ? 1 : 0)) << "tick " << t;
        if (device.opened_paths.size() != opens) {
            reopened_at.push_back(t);
            EXPECT_EQ(device.opened_paths.back(), "/dev/ttyUSB0");
        }
    }

    std::vector<int> expected;
    for (int at : {c.first_reopen, c.second_reopen})
        if (at != 0)
            expected.push_back(at);
    EXPECT_EQ(reopened_at, expected);
    EXPECT_EQ(heard.reopens.size(), expected.size());
    if (!expected.empty()) {
        EXPECT_EQ(heard.reopens, (std::vector<int>{1, 2}));
    }
    EXPECT_TRUE(heard.links.empty() || heard.links == std::vector<link_condition>{link_condition::silent});
    EXPECT_FALSE(logic.port_lost());
    EXPECT_EQ(board.link_now(), link_condition::silent);
    for (int relay = 1; relay <= 4; ++relay)
        EXPECT_EQ(indicator(relay), "state");
    EXPECT_NE(logic.controls().Label6[0].tooltip.find(c.tooltip_part), std::string::npos)
        << logic.controls().Label6[0].tooltip;
    EXPECT_TRUE(view.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    board, silence,
    ::testing::Values(silence_case{"stops_answering", true, false, "1", "The board stopped answering.", 51, 351},
                      silence_case{"never_answered", false, false, "1", "No answer from the board yet.", 51, 351},
                      silence_case{"only_garbled_answers", true, true, "1", "garbled (370 bad frames)", 51, 351},
                      // Nothing is sent, so the board is not silent: it is not asked.
                      silence_case{"not_asked_for_want_of_an_address", true, false, "x", "holds no board address", 0,
                                   0}),
    [](const auto& info) { return info.param.name; });

TEST_F(silent_port_test, an_answer_ends_the_silence_and_the_next_one_waits_its_own_5_s)
{
    ASSERT_TRUE(connect_panel());
    EXPECT_EQ(ticks_to_next_reopen(100), silent_port_reopen_ticks + 1);
    tick();
    answer({1, 1, 1, 1});
    EXPECT_EQ(indicator(1), "off");
    EXPECT_EQ(ticks_to_next_reopen(100), silent_port_reopen_ticks + 1);
    // Each silence counts its reopenings from one.
    EXPECT_EQ(heard.reopens, (std::vector<int>{1, 1}));
    answer({2, 1, 1, 1});
    EXPECT_EQ(indicator(1), "on");
}

TEST_F(silent_port_test, a_port_that_cannot_be_reopened_is_lost_and_tried_again_every_second)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({1, 1, 1, 1});
    device.refuse.push_back({"/dev/ttyUSB0", "The port /dev/ttyUSB0 does not exist."});
    tick(silent_port_reopen_ticks + 1);
    EXPECT_TRUE(logic.port_lost());
    EXPECT_EQ(logic.lost_reason(), "The port /dev/ttyUSB0 does not exist.");
    EXPECT_EQ(heard.links.back(), link_condition::lost);
    EXPECT_TRUE(heard.reopens.empty());

    device.refuse.clear();
    const auto sent = device.written.size();
    tick(reopen_ticks);
    EXPECT_FALSE(logic.port_lost());
    EXPECT_EQ(device.written.size(), sent + 1);
    answer({1, 2, 1, 1});
    EXPECT_EQ(indicator(2), "on");
}

}  // namespace
}  // namespace relay::testing
