// Commands from clients other than the window: their queue, its order
// behind the window's mailbox, and what the clients are told.

#include "panel_fixture.h"

#include <algorithm>

namespace relay::testing {
namespace {

struct recorded_outcomes : board_observer {
    void client_command_sent(client_ticket ticket) override { sent.push_back(ticket); }
    void client_command_dropped(client_ticket ticket, const std::string& why) override
    {
        dropped.emplace_back(ticket, why);
    }
    void status_frame_accepted(const relay_statuses& reported) override { frames.push_back(reported); }
    void link_changed(link_condition now, const relay_statuses&) override { links.push_back(now); }

    std::vector<client_ticket> sent;
    std::vector<std::pair<client_ticket, std::string>> dropped;
    std::vector<relay_statuses> frames;
    std::vector<link_condition> links;
};

class client_queue : public panel_test {
protected:
    client_queue() { logic.add_observer(&clients); }
    ~client_queue() override { logic.remove_observer(&clients); }

    recorded_outcomes clients;
};

TEST_F(client_queue, commands_go_out_oldest_first_one_per_tick_after_the_mailbox)
{
    ASSERT_TRUE(connect_panel());
    ASSERT_TRUE(logic.queue_client_command(single_relay(2, action_on), 10));
    ASSERT_TRUE(logic.queue_client_command(all_relays(action_off), 11));
    logic.open_Click(4);
    tick(4);
    ASSERT_EQ(device.written.size(), 4u);
    EXPECT_EQ(device.written[0], encode_command(1, single_relay(4, action_on)));
    EXPECT_EQ(device.written[1], encode_command(1, single_relay(2, action_on)));
    EXPECT_EQ(device.written[2], encode_command(1, all_relays(action_off)));
    EXPECT_EQ(device.written[3], query_to(1));
    EXPECT_EQ(clients.sent, (std::vector<client_ticket>{10, 11}));
}

TEST_F(client_queue, a_full_queue_refuses_the_next_command_and_keeps_the_others)
{
    ASSERT_TRUE(connect_panel());
    for (client_ticket t = 0; t < client_queue_capacity; ++t)
        ASSERT_TRUE(logic.queue_client_command(single_relay(1, action_on), t));
    EXPECT_FALSE(logic.queue_client_command(single_relay(3, action_on), 999));
    EXPECT_EQ(logic.queued_client_commands(), client_queue_capacity);
    tick(static_cast<int>(client_queue_capacity) + 1);
    EXPECT_EQ(clients.sent.size(), client_queue_capacity);
    EXPECT_EQ(std::count(clients.sent.begin(), clients.sent.end(), 999u), 0);
    EXPECT_EQ(last_sent(), query_to(1));
}

TEST_F(client_queue, waiting_commands_are_dropped_with_a_reason_when_the_port_goes)
{
    ASSERT_TRUE(connect_panel());
    logic.queue_client_command(single_relay(1, action_on), 1);
    logic.queue_client_command(single_relay(2, action_on), 2);
    device.unplug("The device went away.");
    ASSERT_EQ(clients.dropped.size(), 2u);
    EXPECT_EQ(clients.dropped[0].first, 1u);
    EXPECT_EQ(clients.dropped[1].second, "The device went away.");
    EXPECT_EQ(logic.link_now(), link_condition::lost);
    EXPECT_EQ(logic.queued_client_commands(), 0u);
}

TEST_F(client_queue, a_disconnect_drops_client_commands_but_keeps_the_mailbox)
{
    ASSERT_TRUE(connect_panel());
    logic.queue_client_command(single_relay(1, action_on), 7);
    logic.open_Click(3);
    logic.open_comm_Click();
    ASSERT_EQ(clients.dropped.size(), 1u);
    EXPECT_TRUE(logic.pending_flag());
}

TEST_F(client_queue, an_unusable_address_holds_client_commands_back)
{
    ASSERT_TRUE(connect_panel());
    logic.queue_client_command(single_relay(1, action_on), 5);
    logic.set_add_text("abc");
    tick(3);
    EXPECT_TRUE(device.written.empty());
    EXPECT_TRUE(clients.sent.empty());
    logic.set_add_text("9");
    tick();
    EXPECT_EQ(last_sent(), encode_command(9, single_relay(1, action_on)));
    EXPECT_EQ(clients.sent, std::vector<client_ticket>{5});
}

TEST_F(client_queue, observers_hear_frames_as_shown_and_the_link_as_it_changes)
{
    EXPECT_EQ(logic.link_now(), link_condition::lost);
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 1, 7, 1});
    ASSERT_EQ(clients.frames.size(), 1u);
    // A status byte that is neither on nor off leaves relay 3 unknown.
    EXPECT_EQ(clients.frames[0], (relay_statuses{status_on, status_off, 0, status_off}));
    device.arrive(frame{0x23, 0, 0, 2, 2, 2, 2, 0x2B});
    EXPECT_EQ(clients.frames.size(), 1u);
    tick(watchdog_reload + 1);
    EXPECT_EQ(logic.reported_statuses(), relay_statuses{});
    EXPECT_EQ(clients.links, (std::vector<link_condition>{link_condition::silent, link_condition::answering,
                                                          link_condition::silent}));
}

}  // namespace
}  // namespace relay::testing
