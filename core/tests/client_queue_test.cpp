// Commands from clients other than the window: their queue, its order
// behind the window's mailbox, and what their senders are told.

#include "core_rig.h"

#include <algorithm>
#include <functional>
#include <ostream>

namespace relay::testing {
namespace {

class client_queue : public ::testing::Test, protected core_rig {
protected:
    recording_sender client;
    recording_listener heard{board};
};

TEST_F(client_queue, commands_go_out_oldest_first_one_per_tick_after_the_mailbox)
{
    ASSERT_TRUE(connect());
    const auto first = board.queue_command(single_relay(2, action_on), &client);
    const auto second = board.queue_command(all_relays(action_off), &client);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    board.set_mailbox(single_relay(4, action_on));
    tick(4);
    ASSERT_EQ(device.written.size(), 4u);
    EXPECT_EQ(device.written[0], encode_command(1, single_relay(4, action_on)));
    EXPECT_EQ(device.written[1], encode_command(1, single_relay(2, action_on)));
    EXPECT_EQ(device.written[2], encode_command(1, all_relays(action_off)));
    EXPECT_EQ(device.written[3], query_to(1));
    EXPECT_TRUE(client.ends.empty()) << "both went out and wait for the board";

    // Only frames after a send prove a command: both are on the line.
    answer({1, 2, 1, 1});
    answer({1, 1, 1, 1});
    ASSERT_EQ(client.ends.size(), 2u);
    EXPECT_EQ(client.ends[0].first, *first);
    EXPECT_TRUE(client.ends[0].second.confirmed()) << client.ends[0].second;
    EXPECT_EQ(client.ends[1].first, *second);
    EXPECT_TRUE(client.ends[1].second.confirmed()) << client.ends[1].second;
}

TEST_F(client_queue, a_full_queue_refuses_the_next_command_and_keeps_the_others)
{
    ASSERT_TRUE(connect());
    for (std::size_t i = 0; i < client_queue_capacity; ++i)
        ASSERT_TRUE(board.queue_command(single_relay(1, action_on), &client));
    EXPECT_FALSE(board.queue_command(single_relay(3, action_on), &client));
    EXPECT_EQ(board.queued_commands(), client_queue_capacity);
    tick(static_cast<int>(client_queue_capacity) + 1);
    const auto relay_1_on = encode_command(1, single_relay(1, action_on));
    EXPECT_EQ(static_cast<std::size_t>(std::count(device.written.begin(), device.written.end(), relay_1_on)),
              client_queue_capacity);
    EXPECT_EQ(std::count(device.written.begin(), device.written.end(), encode_command(1, single_relay(3, action_on))),
              0);
    EXPECT_EQ(last_sent(), query_to(1));
    EXPECT_EQ(board.queued_commands(), 0u);
}

// The port goes, or the owner disconnects, while commands wait: each ends
// unsent with the reason, in the order queued; the window's mailbox stays.
struct drop_case {
    std::string name;
    std::function<void(core_rig&)> port_goes;
    std::string why;
};

std::ostream& operator<<(std::ostream& os, const drop_case& c) { return os << c.name; }

class waiting_commands : public client_queue, public ::testing::WithParamInterface<drop_case> {};

TEST_P(waiting_commands, end_unsent_with_the_reason_and_the_mailbox_stays)
{
    const auto& c = GetParam();
    ASSERT_TRUE(connect());
    const auto first = board.queue_command(single_relay(1, action_on), &client);
    const auto second = board.queue_command(single_relay(2, action_on), &client);
    board.set_mailbox(single_relay(3, action_on));
    c.port_goes(*this);
    ASSERT_EQ(client.ends.size(), 2u);
    EXPECT_EQ(client.ends[0].first, *first);
    EXPECT_EQ(client.ends[1].first, *second);
    for (const auto& [id, result] : client.ends) {
        EXPECT_EQ(result.how, command_result::end::not_sent) << result;
        EXPECT_EQ(result.why, c.why);
    }
    EXPECT_EQ(client.ends[1].second.command, single_relay(2, action_on));
    EXPECT_EQ(board.link_now(), link_condition::lost);
    EXPECT_EQ(board.queued_commands(), 0u);
    EXPECT_TRUE(board.mailbox_full());
}

INSTANTIATE_TEST_SUITE_P(port_goes, waiting_commands,
                         ::testing::Values(drop_case{"unplugged",
                                                     [](core_rig& r) { r.device.unplug("The device went away."); },
                                                     "The device went away."},
                                           drop_case{"disconnected", [](core_rig& r) { r.board.disconnect(); },
                                                     "Disconnected from the port before the command went out."}),
                         [](const auto& info) { return info.param.name; });

TEST_F(client_queue, an_unusable_address_holds_client_commands_back)
{
    ASSERT_TRUE(connect());
    const auto id = board.queue_command(single_relay(1, action_on), &client);
    board.set_address(std::nullopt);
    tick(3);
    EXPECT_TRUE(device.written.empty());
    EXPECT_TRUE(client.ends.empty());
    EXPECT_TRUE(board.address_unusable());
    board.set_address(9);
    tick();
    EXPECT_EQ(last_sent(), encode_command(9, single_relay(1, action_on)));
    answer({2, 1, 1, 1}, 9);
    ASSERT_EQ(client.ends.size(), 1u);
    EXPECT_EQ(client.ends[0].first, *id);
    EXPECT_TRUE(client.ends[0].second.confirmed()) << client.ends[0].second;
}

TEST_F(client_queue, listeners_hear_frames_as_known_and_the_link_as_it_changes)
{
    EXPECT_EQ(board.link_now(), link_condition::lost);
    ASSERT_TRUE(connect());
    tick();
    answer({2, 1, 7, 1});
    ASSERT_EQ(heard.reported.size(), 1u);
    // A status byte that is neither on nor off leaves relay 3 unknown.
    EXPECT_EQ(heard.reported[0], (relay_states{on, off, unknown, off}));
    EXPECT_EQ(board.reported_statuses(), (relay_statuses{status_on, status_off, 0, status_off}));
    device.arrive(frame{0x23, 0, 0, 2, 2, 2, 2, 0x2B});
    EXPECT_EQ(heard.reported.size(), 1u);
    tick(watchdog_reload + 1);
    EXPECT_EQ(board.reported_statuses(), relay_statuses{});
    EXPECT_EQ(heard.links,
              (std::vector<link_condition>{link_condition::silent, link_condition::answering, link_condition::silent}));
}

}  // namespace
}  // namespace relay::testing
