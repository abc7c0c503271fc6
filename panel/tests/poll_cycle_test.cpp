// The mailbox, the tick and the watchdog, stepped one tick at a time.

#include "panel_fixture.h"

namespace relay::testing {
namespace {

using poll_cycle = panel_test;

TEST_F(poll_cycle, first_tick_after_connecting_sends_a_status_query)
{
    ASSERT_TRUE(connect_panel());
    EXPECT_EQ(device.opened_paths, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_TRUE(device.written.empty());
    tick();
    ASSERT_EQ(device.written.size(), 1u);
    EXPECT_EQ(last_sent(), query_to(1));
}

TEST_F(poll_cycle, every_tick_sends_exactly_one_frame_after_discarding_input)
{
    ASSERT_TRUE(connect_panel());
    device.arrive(std::vector<std::uint8_t>{1, 2, 3});
    tick(10);
    EXPECT_EQ(device.written.size(), 10u);
    EXPECT_EQ(device.discards, 10);
    EXPECT_EQ(device.bytes_discarded, 3u);
}

TEST_F(poll_cycle, two_commands_in_one_tick_send_only_the_second_then_a_query)
{
    ASSERT_TRUE(connect_panel());
    logic.open_Click(1);
    logic.close_Click(3);
    tick();
    EXPECT_EQ(last_sent(), encode_command(1, {1, {0, 0, 1, 0}}));
    tick();
    EXPECT_EQ(last_sent(), query_to(1));
    EXPECT_EQ(device.written.size(), 2u);
    // The mailbox keeps the spent tuple; only the flag marks it as sent.
    EXPECT_EQ(logic.pending_cmd(), (command_tuple{1, {0, 0, 1, 0}}));
    EXPECT_FALSE(logic.pending_flag());
}

TEST_F(poll_cycle, a_valid_frame_sets_the_indicators_in_their_colours)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 1, 1, 2});
    EXPECT_EQ(indicator(1), "on");
    EXPECT_EQ(indicator_colour(1), colour_green);
    EXPECT_EQ(indicator(2), "off");
    EXPECT_EQ(indicator_colour(2), colour_red);
    EXPECT_EQ(indicator(4), "on");
    EXPECT_EQ(logic.alive_count(), watchdog_reload);
}

TEST_F(poll_cycle, indicators_fall_back_to_state_on_the_sixth_silent_tick)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    for (int silent = 1; silent <= 5; ++silent) {
        tick();
        EXPECT_EQ(indicator(1), "on") << "after silent tick " << silent;
    }
    EXPECT_EQ(logic.alive_count(), 0);
    tick();
    for (int relay = 1; relay <= 4; ++relay) {
        EXPECT_EQ(indicator(relay), "state");
        EXPECT_EQ(indicator_colour(relay), colour_black);
    }
    tick();
    EXPECT_EQ(logic.alive_count(), 0);
    EXPECT_EQ(logic.controls().open_comm.caption, "disconnect");
}

TEST_F(poll_cycle, a_board_answering_every_tick_never_blinks)
{
    ASSERT_TRUE(connect_panel());
    for (int i = 0; i < 50; ++i) {
        tick();
        answer({1, 2, 1, 2});
        EXPECT_EQ(indicator(2), "on");
        EXPECT_GE(logic.alive_count(), 4);
    }
}

TEST_F(poll_cycle, zero_status_frames_keep_the_indicators_and_reload_the_watchdog)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 1, 2, 1});
    for (int i = 0; i < 20; ++i) {
        tick();
        answer({0, 0, 0, 0});
    }
    EXPECT_EQ(indicator(1), "on");
    EXPECT_EQ(indicator(2), "off");
    EXPECT_EQ(logic.alive_count(), watchdog_reload);
}

TEST_F(poll_cycle, status_bytes_other_than_1_or_2_leave_that_relay_alone)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    answer({1, 7, 0, 0xFF});
    EXPECT_EQ(indicator(1), "off");
    EXPECT_EQ(indicator(2), "on");
    EXPECT_EQ(indicator(3), "on");
    EXPECT_EQ(indicator(4), "on");
}

TEST_F(poll_cycle, an_invalid_frame_changes_nothing_and_does_not_reload_the_watchdog)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 2, 2, 2});
    tick(3);
    auto corrupt = encode_status(1, 0, {1, 1, 1, 1});
    corrupt[7] ^= 1;
    device.arrive(corrupt);
    auto wrong_start = encode_status(1, 0, {1, 1, 1, 1});
    wrong_start[0] = 0x23;
    wrong_start[7] = checksum(wrong_start);
    device.arrive(wrong_start);
    EXPECT_EQ(indicator(1), "on");
    EXPECT_EQ(logic.alive_count(), 2);
}

TEST_F(poll_cycle, a_status_frame_from_another_address_is_taken)
{
    ASSERT_TRUE(connect_panel());
    tick();
    answer({2, 1, 1, 1}, 9);
    EXPECT_EQ(indicator(1), "on");
}

TEST_F(poll_cycle, nine_bytes_give_one_frame_and_the_ninth_is_discarded_by_the_next_send)
{
    ASSERT_TRUE(connect_panel());
    tick();
    auto bytes = encode_status(1, 0, {2, 1, 1, 1});
    auto nine = bytes_of(bytes);
    nine.push_back(0x22);
    device.arrive(nine);
    EXPECT_EQ(indicator(1), "on");
    EXPECT_EQ(device.bytes_waiting(), 1u);
    tick();
    EXPECT_EQ(device.bytes_waiting(), 0u);
    EXPECT_EQ(device.bytes_discarded, 1u);
}

TEST_F(poll_cycle, an_answer_in_two_pieces_is_read_once_the_eighth_byte_is_in)
{
    ASSERT_TRUE(connect_panel());
    tick();
    const auto bytes = encode_status(1, 0, {1, 2, 1, 1});
    device.arrive(bytes_of(bytes, 0, 5));
    EXPECT_EQ(indicator(2), "state");
    device.arrive(bytes_of(bytes, 5));
    EXPECT_EQ(indicator(2), "on");
    EXPECT_EQ(logic.rx_frame(), bytes);
}

TEST_F(poll_cycle, sixteen_bytes_at_once_are_read_as_two_frames_in_order)
{
    ASSERT_TRUE(connect_panel());
    tick();
    const auto first = encode_status(1, 0, {2, 2, 2, 2});
    const auto second = encode_status(1, 0, {1, 1, 1, 1});
    auto both = bytes_of(first);
    for (auto b : bytes_of(second))
        both.push_back(b);
    device.arrive(both);
    EXPECT_EQ(indicator(1), "off");
    EXPECT_EQ(device.bytes_waiting(), 0u);
}

}  // namespace
}  // namespace relay::testing
