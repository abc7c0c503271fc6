// What the relay controls put in the mailbox, and how the fields keep
// their text.

#include "panel_fixture.h"

#include <functional>
#include <ostream>

namespace relay::testing {
namespace {

struct click_case {
    std::string name;
    std::function<void(panel_controller&)> click;
    command_tuple expected;
};

std::ostream& operator<<(std::ostream& os, const click_case& c) { return os << c.name; }

class relay_click : public panel_test, public ::testing::WithParamInterface<click_case> {};

TEST_P(relay_click, puts_its_tuple_in_the_mailbox_and_the_next_tick_sends_it)
{
    ASSERT_TRUE(connect_panel());
    GetParam().click(logic);
    EXPECT_TRUE(logic.pending_flag());
    EXPECT_EQ(logic.pending_cmd(), GetParam().expected);
    EXPECT_TRUE(device.written.empty());
    tick();
    EXPECT_EQ(last_sent(), encode_command(1, GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    buttons, relay_click,
    ::testing::Values(click_case{"on1", [](auto& l) { l.open_Click(1); }, {1, {2, 0, 0, 0}}},
                      click_case{"on2", [](auto& l) { l.open_Click(2); }, {1, {0, 2, 0, 0}}},
                      click_case{"on3", [](auto& l) { l.open_Click(3); }, {1, {0, 0, 2, 0}}},
                      click_case{"on4", [](auto& l) { l.open_Click(4); }, {1, {0, 0, 0, 2}}},
                      click_case{"off1", [](auto& l) { l.close_Click(1); }, {1, {1, 0, 0, 0}}},
                      click_case{"off2", [](auto& l) { l.close_Click(2); }, {1, {0, 1, 0, 0}}},
                      click_case{"off3", [](auto& l) { l.close_Click(3); }, {1, {0, 0, 1, 0}}},
                      click_case{"off4", [](auto& l) { l.close_Click(4); }, {1, {0, 0, 0, 1}}},
                      click_case{"all_on", [](auto& l) { l.openall_Click(); }, {1, {2, 2, 2, 2}}},
                      click_case{"all_off", [](auto& l) { l.closeall_Click(); }, {1, {1, 1, 1, 1}}}),
    [](const auto& info) { return info.param.name; });

using relay_commands = panel_test;

TEST_F(relay_commands, indexes_outside_1_to_4_do_nothing)
{
    ASSERT_TRUE(connect_panel());
    for (int index : {0, 5, -1, 100}) {
        logic.open_Click(index);
        logic.close_Click(index);
        logic.Label6_Click(index);
    }
    EXPECT_FALSE(logic.pending_flag());
}

TEST_F(relay_commands, an_indicator_toggles_what_it_shows_and_a_state_indicator_sends_nothing)
{
    ASSERT_TRUE(connect_panel());
    logic.Label6_Click(2);
    EXPECT_FALSE(logic.pending_flag());
    tick();
    answer({1, 2, 1, 1});
    logic.Label6_Click(1);
    EXPECT_EQ(logic.pending_cmd(), (command_tuple{1, {2, 0, 0, 0}}));
    logic.Label6_Click(2);
    EXPECT_EQ(logic.pending_cmd(), (command_tuple{1, {0, 1, 0, 0}}));
    // The click itself never changes what is shown.
    EXPECT_EQ(indicator(2), "on");
    EXPECT_EQ(indicator_colour(2), colour_green);
}

TEST_F(relay_commands, switching_all_on_when_all_are_on_still_sends)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    logic.openall_Click();
    tick();
    EXPECT_EQ(last_sent(), encode_command(1, {1, {2, 2, 2, 2}}));
}

using address_field = panel_test;

TEST_F(address_field, typing_300_digit_by_digit_leaves_3_and_30_then_turns_into_0)
{
    logic.set_add_text("");
    logic.set_add_text("3");
    EXPECT_EQ(logic.controls().add.text, "3");
    logic.set_add_text("30");
    EXPECT_EQ(logic.controls().add.text, "30");
    logic.set_add_text("300");
    EXPECT_EQ(logic.controls().add.text, "0");
}

TEST_F(address_field, only_text_above_255_is_reset)
{
    const std::vector<std::pair<std::string, std::string>> rows{
        {"256", "0"},  {"255", "255"}, {"255.5", "0"}, {"1e3", "0"},   {"99999", "0"},
        {"-1", "-1"},  {"abc", "abc"}, {"1.5", "1.5"}, {"", ""},       {" ", " "},
        {"0x10", "0x10"}, {std::string(10000, '9'), "0"}, {"\xd9\xa3", "\xd9\xa3"}};
    for (const auto& [typed, kept] : rows) {
        logic.set_add_text(typed);
        EXPECT_EQ(logic.controls().add.text, kept) << "typed \"" << typed.substr(0, 20) << '"';
    }
}

TEST_F(address_field, a_changed_address_is_used_by_the_very_next_frame)
{
    ASSERT_TRUE(connect_panel());
    tick();
    logic.set_add_text("42");
    tick();
    EXPECT_EQ(last_sent(), query_to(42));
    logic.set_add_text("2.5");
    tick();
    EXPECT_EQ(last_sent(), query_to(2));
}

TEST_F(address_field, no_frame_goes_to_an_address_the_field_does_not_hold)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    for (const std::string text : {"", "abc", "-1", " "}) {
        logic.set_add_text(text);
        const auto sent = device.written.size();
        tick();
        EXPECT_EQ(device.written.size(), sent) << "address \"" << text << '"';
    }
    // The ticks go on, so the watchdog shows the silence.
    tick(2);
    EXPECT_EQ(indicator(1), "state");
    EXPECT_NE(logic.controls().Label6[0].tooltip.find("address"), std::string::npos);
}

TEST_F(address_field, a_command_clicked_while_the_address_is_unusable_waits_for_a_usable_one)
{
    ASSERT_TRUE(connect_panel());
    logic.set_add_text("");
    logic.open_Click(3);
    tick();
    EXPECT_TRUE(device.written.empty());
    logic.set_add_text("7");
    tick();
    EXPECT_EQ(last_sent(), encode_command(7, {1, {0, 0, 2, 0}}));
}

using spin_controls = panel_test;

TEST_F(spin_controls, the_address_spin_writes_its_value_not_one_more_than_the_text)
{
    logic.set_add_text("200");
    logic.VScroll1_Change(2);
    EXPECT_EQ(logic.controls().add.text, "2");
    logic.VScroll1_Change(15);
    EXPECT_EQ(logic.controls().add.text, "15");
    logic.VScroll1_Change(0);
    EXPECT_EQ(logic.controls().add.text, "0");
}

TEST_F(spin_controls, values_outside_0_to_15_never_reach_a_field)
{
    logic.VScroll1_Change(16);
    EXPECT_EQ(logic.controls().add.text, "15");
    logic.VScroll2_Change(-1);
    EXPECT_EQ(logic.controls().chuankou_num.text, "0");
}

TEST_F(spin_controls, the_port_spin_rewrites_the_disabled_port_field_for_the_next_connect)
{
    ASSERT_TRUE(connect_panel());
    logic.VScroll2_Change(2);
    EXPECT_FALSE(logic.controls().chuankou_num.enabled);
    EXPECT_EQ(logic.controls().chuankou_num.text, "2");
    EXPECT_EQ(device.opened_paths.size(), 1u);
    logic.open_comm_Click();
    logic.open_comm_Click();
    EXPECT_EQ(device.opened_paths.back(), "/dev/ttyS0");
}

}  // namespace
}  // namespace relay::testing
