// The window on a board another program owns, tick by tick: "connect" on a
// held port attaches to its owner (a fake here, told what the owner
// reports), the controls present the owner's board, and the relay controls
// become commands in the owner's queue.

#include "panel_fixture.h"

#include <functional>
#include <ostream>
#include <utility>
#include <vector>

namespace relay::testing {
namespace {

class fake_owner : public board_owner {
public:
    found attach(const std::string& device_path, listener* to) override
    {
        attached_for.push_back(device_path);
        told = answer == found::attaching ? to : nullptr;
        return answer;
    }
    void detach() override
    {
        ++detaches;
        told = nullptr;
    }
    owner_report report() const override { return now; }
    void send(command_kind kind, int relay) override { sent.emplace_back(kind, relay); }

    // The owner's report changes, and the panel is told.
    void reports(const std::function<void(owner_report&)>& change)
    {
        change(now);
        if (told)
            told->owner_changed();
    }

    found answer = found::attaching;
    owner_report now;
    listener* told = nullptr;
    std::vector<std::string> attached_for;
    int detaches = 0;
    std::vector<std::pair<command_kind, int>> sent;
};

const relay_states two_on{relay_state::off, relay_state::on, relay_state::off, relay_state::off};

// relayd (pid 1234) owns /dev/ttyUSB0 at address 7, its board answering
// with relay 2 on.
owner_report relayd_answering()
{
    owner_report r;
    r.attached = true;
    r.relays = two_on;
    r.link = link_condition::answering;
    r.port = "/dev/ttyUSB0";
    r.address = 7;
    r.program = "relayd";
    r.pid = 1234;
    return r;
}

class attached_panel : public panel_test {
protected:
    attached_panel()
    {
        device.refuse.push_back({"/dev/ttyUSB0", "/dev/ttyUSB0 is in use by relayd (pid 1234).", 1});
        logic.set_board_owner(&owner);
    }
    ~attached_panel() override { logic.set_board_owner(nullptr); }

    // "connect" on the held port, with the owner's report as the first
    // event after it.
    ::testing::AssertionResult attach_to(const owner_report& first)
    {
        logic.open_comm_Click();
        if (!logic.through_owner())
            return ::testing::AssertionFailure() << "not attached: " << view.last_message();
        owner.reports([&first](owner_report& r) { r = first; });
        return ::testing::AssertionSuccess();
    }

    std::vector<std::string> captions() const
    {
        std::vector<std::string> all;
        for (int relay = 1; relay <= relay_count; ++relay)
            all.push_back(indicator(relay));
        return all;
    }

    fake_owner owner;
};

using captions_t = std::vector<std::string>;
const captions_t all_state{"state", "state", "state", "state"};

TEST_F(attached_panel, connect_on_a_held_port_shows_the_owners_board_with_no_message)
{
    ASSERT_TRUE(attach_to(relayd_answering()));
    EXPECT_EQ(owner.attached_for, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_TRUE(view.messages.empty()) << view.last_message();
    const auto& c = logic.controls();
    EXPECT_EQ(c.open_comm.caption, caption_disconnect);
    EXPECT_EQ(captions(), (captions_t{"off", "on", "off", "off"}));
    EXPECT_EQ(indicator_colour(2), colour_green);
    EXPECT_EQ(indicator_colour(1), colour_red);
    EXPECT_EQ(c.add.text, "7");
    EXPECT_FALSE(c.add.enabled);
    EXPECT_EQ(c.VScroll1.value, 7);
    EXPECT_FALSE(c.VScroll1.enabled);
    EXPECT_FALSE(c.chuankou_num.enabled);
    EXPECT_TRUE(c.open[0].enabled && c.close[3].enabled && c.openall.enabled && c.closeall.enabled);
    EXPECT_EQ(c.seen_through, "through relayd, pid 1234");
    EXPECT_NE(c.Label6[1].tooltip.find("through relayd, pid 1234"), std::string::npos) << c.Label6[1].tooltip;
    // The owner polls; the window sends nothing of its own.
    EXPECT_FALSE(c.Timer1.running);
    tick(20);
    EXPECT_TRUE(device.written.empty());
    EXPECT_TRUE(device.opened_paths.empty());
}

// What the owner reports, and what the indicators then read: green and red
// only from an answering board, "state" otherwise.
struct report_case {
    std::string name;
    std::function<void(owner_report&)> change;
    captions_t expected;
    std::string tooltip_says;  // in indicator 1's tooltip
};

std::ostream& operator<<(std::ostream& os, const report_case& c) { return os << c.name; }

class owner_reports : public attached_panel, public ::testing::WithParamInterface<report_case> {};

TEST_P(owner_reports, set_the_indicators)
{
    ASSERT_TRUE(attach_to(relayd_answering()));
    owner.reports(GetParam().change);
    EXPECT_EQ(captions(), GetParam().expected);
    const auto& tip = logic.controls().Label6[0].tooltip;
    EXPECT_NE(tip.find(GetParam().tooltip_says), std::string::npos) << tip;
    // Still attached, whatever the owner says: the window never takes the port.
    EXPECT_EQ(logic.controls().open_comm.caption, caption_disconnect);
    tick(20);
    EXPECT_TRUE(device.opened_paths.empty());
    EXPECT_TRUE(device.written.empty());
}

INSTANTIATE_TEST_SUITE_P(
    events, owner_reports,
    ::testing::Values(
        report_case{"board_answers_relay_1_on",
                    [](owner_report& r) { r.relays[0] = relay_state::on; },
                    {"on", "on", "off", "off"},
                    "Relay 1 is on, as the board last reported through relayd, pid 1234"},
        report_case{"owners_link_silent", [](owner_report& r) { r.link = link_condition::silent; }, all_state,
                    "relayd (pid 1234) gets no answer from the board"},
        report_case{"owners_link_lost", [](owner_report& r) { r.link = link_condition::lost; }, all_state,
                    "relayd (pid 1234) has lost the board's port"},
        report_case{"owner_gone_and_looked_for",
                    [](owner_report& r) {
                        r.attached = false;
                        r.relays = all_unknown;
                        r.why = "The board's owner went away.";
                    },
                    all_state, "The board's owner went away.\nAttaching again every second"}),
    [](const auto& info) { return info.param.name; });

TEST_F(attached_panel, the_owners_return_brings_the_board_back_without_a_click)
{
    ASSERT_TRUE(attach_to(relayd_answering()));
    owner.reports([](owner_report& r) {
        r.attached = false;
        r.relays = all_unknown;
    });
    EXPECT_EQ(captions(), all_state);
    EXPECT_EQ(logic.controls().seen_through, "");
    owner.reports([](owner_report& r) {
        r = relayd_answering();
        r.pid = 5678;
    });
    EXPECT_EQ(captions(), (captions_t{"off", "on", "off", "off"}));
    EXPECT_EQ(logic.controls().seen_through, "through relayd, pid 5678");
    EXPECT_EQ(owner.attached_for.size(), 1u);
}

// Each relay control, attached: one command for the owner's queue, nothing
// in the window's own mailbox.
struct command_case {
    std::string name;
    std::function<void(panel_controller&)> click;
    std::vector<std::pair<command_kind, int>> expected;
};

std::ostream& operator<<(std::ostream& os, const command_case& c) { return os << c.name; }

class owner_commands : public attached_panel, public ::testing::WithParamInterface<command_case> {};

TEST_P(owner_commands, go_to_the_owner_and_nowhere_else)
{
    ASSERT_TRUE(attach_to(relayd_answering()));
    GetParam().click(logic);
    EXPECT_EQ(owner.sent, GetParam().expected);
    EXPECT_FALSE(logic.pending_flag());
    tick(3);
    EXPECT_TRUE(device.written.empty());
    // The indicators wait for the owner's report of the board's answer.
    EXPECT_EQ(captions(), (captions_t{"off", "on", "off", "off"}));
}

INSTANTIATE_TEST_SUITE_P(
    controls, owner_commands,
    ::testing::Values(
        command_case{"on_2", [](auto& l) { l.open_Click(2); }, {{command_kind::on, 2}}},
        command_case{"off_4", [](auto& l) { l.close_Click(4); }, {{command_kind::off, 4}}},
        command_case{"all_on", [](auto& l) { l.openall_Click(); }, {{command_kind::all_on, 0}}},
        command_case{"all_off", [](auto& l) { l.closeall_Click(); }, {{command_kind::all_off, 0}}},
        command_case{"indicator_1_off_is_switched_on", [](auto& l) { l.Label6_Click(1); }, {{command_kind::on, 1}}},
        command_case{"indicator_2_on_is_switched_off", [](auto& l) { l.Label6_Click(2); }, {{command_kind::off, 2}}},
        command_case{"relay_5_is_no_relay", [](auto& l) { l.open_Click(5); }, {}},
        command_case{"typing_an_address_changes_nothing",
                     [](auto& l) {
                         l.set_add_text("9");
                         l.VScroll1_Change(3);
                     },
                     {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(attached_panel, an_indicator_reading_state_sends_nothing)
{
    ASSERT_TRUE(attach_to(relayd_answering()));
    owner.reports([](owner_report& r) { r.link = link_condition::silent; });
    logic.Label6_Click(2);
    EXPECT_TRUE(owner.sent.empty());
}

TEST_F(attached_panel, a_refused_command_is_told_once_in_plain_words_and_not_sent_again)
{
    ASSERT_TRUE(attach_to(relayd_answering()));
    logic.open_Click(3);
    owner.told->owner_refused("The board's owner did not carry out \"on\" for relay 3: busy.");
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.last_message(), "The board's owner did not carry out \"on\" for relay 3: busy.");
    tick(20);
    EXPECT_EQ(owner.sent.size(), 1u);
}

TEST_F(attached_panel, disconnect_detaches_and_gives_the_address_back)
{
    logic.set_add_text("3");
    ASSERT_TRUE(attach_to(relayd_answering()));
    logic.open_comm_Click();
    EXPECT_EQ(owner.detaches, 1);
    EXPECT_FALSE(logic.through_owner());
    const auto& c = logic.controls();
    EXPECT_EQ(c.open_comm.caption, caption_connect);
    EXPECT_EQ(captions(), all_state);
    EXPECT_EQ(c.add.text, "3");
    EXPECT_TRUE(c.add.enabled && c.VScroll1.enabled && c.chuankou_num.enabled);
    EXPECT_FALSE(c.open[1].enabled);
    EXPECT_EQ(c.seen_through, "");
    EXPECT_EQ(logic.board().address(), std::optional<std::uint8_t>(3));
    // With the owner gone from the port, "connect" opens it.
    device.refuse.clear();
    logic.open_comm_Click();
    EXPECT_EQ(device.opened_paths, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_FALSE(logic.through_owner());
}

// A held port without an owner that serves it, or one this user may not
// use: the window stays disconnected and says why.
struct refusal_case {
    std::string name;
    board_owner::found answer;
    std::string message;
};

std::ostream& operator<<(std::ostream& os, const refusal_case& c) { return os << c.name; }

class held_port : public attached_panel, public ::testing::WithParamInterface<refusal_case> {};

TEST_P(held_port, is_refused_with_its_reason)
{
    owner.answer = GetParam().answer;
    owner.now.why = "Only members of the group relayd may use the board's owner. Join it: sudo usermod -aG relayd "
                    "$USER, then log in again.";
    logic.open_comm_Click();
    EXPECT_FALSE(logic.through_owner());
    EXPECT_EQ(logic.controls().open_comm.caption, caption_connect);
    EXPECT_TRUE(logic.controls().add.enabled);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.last_message(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    owners, held_port,
    ::testing::Values(refusal_case{"nobody_serves_it", board_owner::found::none,
                                   "/dev/ttyUSB0 is in use by relayd (pid 1234). Close it, then connect again."},
                      refusal_case{"its_owners_socket_is_forbidden", board_owner::found::forbidden,
                                   "Only members of the group relayd may use the board's owner. Join it: sudo "
                                   "usermod -aG relayd $USER, then log in again."}),
    [](const auto& info) { return info.param.name; });

TEST_F(attached_panel, a_port_that_opens_or_is_missing_never_looks_for_an_owner)
{
    device.refuse = {{"/dev/ttyUSB0", "/dev/ttyUSB0 does not exist.", 0}};
    logic.open_comm_Click();
    EXPECT_EQ(logic.controls().open_comm.caption, caption_connect);
    device.refuse.clear();
    logic.open_comm_Click();
    EXPECT_EQ(logic.controls().open_comm.caption, caption_disconnect);
    EXPECT_TRUE(owner.attached_for.empty());
    EXPECT_TRUE(logic.controls().seen_through.empty());
}

}  // namespace
}  // namespace relay::testing
