// The board core on its own: each command's end reaches whoever queued it
// and no one else, the window's mailbox ends reach its listeners, what the
// listeners hear and when, and the deadline of a command on the line.

#include "core_rig.h"

#include <algorithm>
#include <functional>
#include <ostream>

namespace relay::testing {
namespace {

using end = command_result::end;

// Two clients on one core, one command each: relay 1 on from the first,
// relay 2 on from the second.
struct two_senders_case {
    std::string name;
    std::function<void(core_rig&)> then;
    end how;
    std::string why;  // for not_sent and port_gone
};

std::ostream& operator<<(std::ostream& os, const two_senders_case& c) { return os << c.name; }

class two_senders : public ::testing::TestWithParam<two_senders_case>, protected core_rig {
protected:
    recording_sender first;
    recording_sender second;
    recording_listener heard{board};
};

TEST_P(two_senders, each_hears_the_end_of_its_own_command_only)
{
    const auto& c = GetParam();
    ASSERT_TRUE(connect());
    const auto first_id = board.queue_command(single_relay(1, action_on), &first);
    const auto second_id = board.queue_command(single_relay(2, action_on), &second);
    ASSERT_TRUE(first_id && second_id);
    c.then(*this);

    ASSERT_EQ(first.ends.size(), 1u);
    ASSERT_EQ(second.ends.size(), 1u);
    EXPECT_EQ(first.ends[0].first, *first_id);
    EXPECT_EQ(first.ends[0].second.command, single_relay(1, action_on));
    EXPECT_EQ(second.ends[0].first, *second_id);
    EXPECT_EQ(second.ends[0].second.command, single_relay(2, action_on));
    for (const auto* sender : {&first, &second}) {
        const auto& result = sender->ends[0].second;
        EXPECT_EQ(result.how, c.how) << result;
        EXPECT_EQ(result.why, c.why) << result;
    }
    EXPECT_TRUE(heard.mailbox_ends.empty()) << "a client's end told as the window's";
}

INSTANTIATE_TEST_SUITE_P(
    ends, two_senders,
    ::testing::Values(two_senders_case{"confirmed",
                                       [](core_rig& r) {
                                           r.tick(2);
                                           r.answer({2, 2, 1, 1});
                                       },
                                       end::confirmed, ""},
                      two_senders_case{"refused",
                                       [](core_rig& r) {
                                           r.tick(2);
                                           for (int i = 0; i < frames_before_refusal; ++i)
                                               r.answer({1, 1, 1, 1});
                                       },
                                       end::refused, ""},
                      two_senders_case{"silent_after_the_send",
                                       [](core_rig& r) {
                                           r.answer({1, 1, 1, 1});
                                           r.tick(watchdog_reload + 1);
                                       },
                                       end::no_answer, ""},
                      two_senders_case{"port_gone_after_the_send",
                                       [](core_rig& r) {
                                           r.tick(2);
                                           r.device.unplug("The adapter was pulled.");
                                       },
                                       end::port_gone, "The adapter was pulled."},
                      two_senders_case{"port_gone_before_the_send",
                                       [](core_rig& r) { r.device.unplug("The adapter was pulled."); }, end::not_sent,
                                       "The adapter was pulled."},
                      two_senders_case{"write_failed",
                                       [](core_rig& r) {
                                           r.device.write_fails = true;
                                           r.tick(2);
                                       },
                                       end::not_sent, "The command could not be written to the port."}),
    [](const auto& info) { return info.param.name; });

// A sender that goes away hears nothing more, yet what it queued still goes
// out and is still settled for everyone else.
struct forgotten_case {
    std::string name;
    int ticks_before_forgetting;
    std::function<void(core_rig&)> then;
    bool goes_out;
};

std::ostream& operator<<(std::ostream& os, const forgotten_case& c) { return os << c.name; }

class forgotten_sender : public ::testing::TestWithParam<forgotten_case>, protected core_rig {
protected:
    recording_sender gone;
    recording_sender staying;
};

TEST_P(forgotten_sender, hears_nothing_while_its_command_still_goes_out)
{
    const auto& c = GetParam();
    ASSERT_TRUE(connect());
    ASSERT_TRUE(board.queue_command(single_relay(1, action_on), &gone));
    ASSERT_TRUE(board.queue_command(single_relay(2, action_on), &staying));
    tick(c.ticks_before_forgetting);
    board.forget_sender(&gone);
    c.then(*this);

    EXPECT_TRUE(gone.ends.empty());
    EXPECT_EQ(staying.ends.size(), 1u);
    const bool went_out = std::find(device.written.begin(), device.written.end(),
                                    encode_command(1, single_relay(1, action_on))) != device.written.end();
    EXPECT_EQ(went_out, c.goes_out);
}

const auto confirm_both = [](core_rig& r) {
    r.tick(2);
    r.answer({2, 2, 1, 1});
};

INSTANTIATE_TEST_SUITE_P(senders, forgotten_sender,
                         ::testing::Values(forgotten_case{"while_queued_then_confirmed", 0, confirm_both, true},
                                           forgotten_case{"on_the_line_then_confirmed", 2, confirm_both, true},
                                           forgotten_case{"on_the_line_then_the_port_goes", 2,
                                                          [](core_rig& r) { r.device.unplug(); }, true},
                                           forgotten_case{"while_queued_then_the_port_goes", 0,
                                                          [](core_rig& r) { r.device.unplug(); }, false}),
                         [](const auto& info) { return info.param.name; });

// The window's one command: its end reaches the listeners, never a sender.
struct mailbox_case {
    std::string name;
    std::function<void(core_rig&)> then;
    end how;
    bool at_deadline = false;
};

std::ostream& operator<<(std::ostream& os, const mailbox_case& c) { return os << c.name; }

class mailbox_end : public ::testing::TestWithParam<mailbox_case>, protected core_rig {
protected:
    recording_sender client;
    recording_listener heard{board};
};

TEST_P(mailbox_end, reaches_the_listeners_once)
{
    const auto& c = GetParam();
    ASSERT_TRUE(connect());
    board.set_mailbox(single_relay(3, action_off));
    board.set_mailbox(single_relay(3, action_on));
    tick();
    EXPECT_FALSE(board.mailbox_full());
    c.then(*this);
    ASSERT_EQ(heard.mailbox_ends.size(), 1u);
    const auto& result = heard.mailbox_ends[0];
    EXPECT_EQ(result.how, c.how) << result;
    EXPECT_EQ(result.at_deadline, c.at_deadline) << result;
    EXPECT_EQ(result.command, single_relay(3, action_on));
    EXPECT_TRUE(client.ends.empty());
    tick(command_deadline_ticks);
    EXPECT_EQ(heard.mailbox_ends.size(), 1u) << "told twice";
}

INSTANTIATE_TEST_SUITE_P(
    ends, mailbox_end,
    ::testing::Values(mailbox_case{"confirmed",
                                   [](core_rig& r) {
                                       r.answer({1, 1, 2, 1});
                                   },
                                   end::confirmed},
                      mailbox_case{"refused",
                                   [](core_rig& r) {
                                       for (int i = 0; i < frames_before_refusal; ++i)
                                           r.answer({1, 1, 1, 1});
                                   },
                                   end::refused},
                      mailbox_case{"port_gone", [](core_rig& r) { r.device.unplug(); }, end::port_gone},
                      mailbox_case{"disconnected", [](core_rig& r) { r.board.disconnect(); }, end::port_gone},
                      mailbox_case{"no_answer_at_the_deadline", [](core_rig& r) { r.tick(command_deadline_ticks); },
                                   end::no_answer, true}),
    [](const auto& info) { return info.param.name; });

// The last frame a command saw, if any, comes with its end.
TEST(board_core, a_refusal_carries_what_the_board_reported)
{
    core_rig rig;
    recording_listener heard{rig.board};
    ASSERT_TRUE(rig.connect());
    rig.board.set_mailbox(all_relays(action_on));
    rig.tick();
    rig.answer({2, 2, 1, 2});
    rig.answer({2, 2, 1, 2});
    rig.answer({2, 2, 2, 1});
    ASSERT_EQ(heard.mailbox_ends.size(), 1u);
    EXPECT_EQ(heard.mailbox_ends[0].reported, (relay_statuses{status_on, status_on, status_on, status_off}));
}

// A command on the line has command_deadline_ticks to be proven. Only a
// board silent all along reaches the deadline: one that answers at all
// keeps answering within the watchdog's ticks, and then the frames settle
// the command, or it falls silent, long before.
struct deadline_case {
    std::string name;
    // Frames the board sends, by the tick after which each arrives
    // (counted from the tick that sent the command).
    std::vector<int> answers_after;
    int ends_at;  // the tick that ends it
    end how;
    bool at_deadline;
};

std::ostream& operator<<(std::ostream& os, const deadline_case& c) { return os << c.name; }

class command_deadline : public ::testing::TestWithParam<deadline_case>, protected core_rig {
protected:
    recording_sender client;
};

TEST_P(command_deadline, the_command_ends_on_its_tick)
{
    const auto& c = GetParam();
    ASSERT_TRUE(connect());
    ASSERT_TRUE(board.queue_command(single_relay(4, action_on), &client));
    int after = 0;  // ticks since the one that sent the command
    tick();
    ASSERT_EQ(last_sent(), encode_command(1, single_relay(4, action_on)));
    for (int t = 1; t <= command_deadline_ticks + 5; ++t) {
        if (std::find(c.answers_after.begin(), c.answers_after.end(), after) != c.answers_after.end())
            answer({1, 1, 1, 1});
        if (!client.ends.empty())
            break;
        tick();
        ++after;
    }
    ASSERT_EQ(client.ends.size(), 1u) << "not ended within the deadline";
    EXPECT_EQ(after, c.ends_at);
    const auto& result = client.ends[0].second;
    EXPECT_EQ(result.how, c.how) << result;
    EXPECT_EQ(result.at_deadline, c.at_deadline) << result;
    EXPECT_EQ(result.reported.has_value(), !c.answers_after.empty());
}

INSTANTIATE_TEST_SUITE_P(
    board, command_deadline,
    ::testing::Values(deadline_case{"silent_all_along", {}, command_deadline_ticks, end::no_answer, true},
                      deadline_case{"answers_once_then_silent", {0}, watchdog_reload + 1, end::no_answer, false},
                      deadline_case{"answers_as_seldom_as_the_watchdog_allows", {0, 5, 10}, 10, end::refused, false}),
    [](const auto& info) { return info.param.name; });

// What the listeners hear, step by step through a connection's life.
struct listened_step {
    const char* what;
    std::function<void(core_rig&)> act;
    std::vector<std::string> events;
};

TEST(board_core, listeners_hear_each_change_once_and_every_valid_frame)
{
    core_rig rig;
    recording_listener heard{rig.board};
    const std::vector<listened_step> steps{
        {"connect", [](core_rig& r) { ASSERT_TRUE(r.connect()); }, {"connected", "link silent"}},
        {"a query, no answer", [](core_rig& r) { r.tick(); }, {}},
        {"the first answer",
         [](core_rig& r) {
             r.answer({2, 1, 1, 1});
         },
         {"link answering", "relays 1000", "status 1000"}},
        {"the same answer again",
         [](core_rig& r) {
             r.answer({2, 1, 1, 1});
         },
         {"status 1000"}},
        {"a relay switched",
         [](core_rig& r) {
             r.answer({2, 1, 2, 1});
         },
         {"relays 1010", "status 1010"}},
        {"a byte neither on nor off keeps the relay as it was",
         [](core_rig& r) {
             r.answer({2, 1, 7, 1});
         },
         {"status 1010"}},
        {"a garbled frame",
         [](core_rig& r) {
             r.device.arrive(frame{0x23, 0, 0, 2, 2, 2, 2, 0x2B});
         },
         {}},
        {"ticks the watchdog covers", [](core_rig& r) { r.tick(watchdog_reload); }, {}},
        {"the watchdog runs out", [](core_rig& r) { r.tick(); }, {"relays ????", "link silent"}},
        {"silent ticks", [](core_rig& r) { r.tick(3); }, {}},
        {"the board answers again",
         [](core_rig& r) {
             r.answer({1, 2, 1, 1});
         },
         {"link answering", "relays 0100", "status 0100"}},
        {"the port goes", [](core_rig& r) { r.device.unplug(); }, {"link lost"}},
        {"the port comes back", [](core_rig& r) { r.tick(reopen_ticks); }, {"relays ????", "link silent"}},
        {"an answer",
         [](core_rig& r) {
             r.answer({1, 1, 1, 2});
         },
         {"link answering", "relays 0001", "status 0001"}},
        {"disconnect", [](core_rig& r) { r.board.disconnect(); }, {"relays ????", "disconnected", "link lost"}},
        {"ticks while disconnected", [](core_rig& r) { r.tick(3); }, {}},
        {"disconnect again", [](core_rig& r) { r.board.disconnect(); }, {}},
    };
    for (const auto& step : steps) {
        heard.events.clear();
        step.act(rig);
        EXPECT_EQ(heard.events, step.events) << step.what;
    }
}

TEST(board_core, a_silent_port_reopened_is_told_with_its_count)
{
    core_rig rig;
    recording_listener heard{rig.board};
    ASSERT_TRUE(rig.connect());
    heard.events.clear();
    rig.tick(silent_port_reopen_ticks + silent_port_repeat_ticks + 1);
    EXPECT_EQ(heard.events, (std::vector<std::string>{"reopened 1", "reopened 2"}));
}

}  // namespace
}  // namespace relay::testing
