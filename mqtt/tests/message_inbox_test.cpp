// The board's side takes what the broker said a few messages at a turn: one
// turn asked for per run of messages, each turn a bounded batch in order.

#include "mqtt/message_inbox.h"

#include <gtest/gtest.h>

namespace relay::mqtt {
namespace {

inbox_message numbered(int n) { return {"t/" + std::to_string(n), std::to_string(n), false}; }

TEST(message_inbox, asks_for_one_turn_per_run_and_gives_bounded_batches_in_order)
{
    message_inbox inbox;
    std::vector<bool> asked;
    for (int n = 0; n < 5; ++n)
        asked.push_back(inbox.put(numbered(n)));
    EXPECT_EQ(asked, (std::vector<bool>{true, false, false, false, false}));

    bool more = false;
    const auto first = inbox.take(3, more);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].payload, "0");
    EXPECT_EQ(first[2].payload, "2");
    EXPECT_TRUE(more);
    // While a turn is still wanted, a new message asks for none of its own.
    EXPECT_FALSE(inbox.put(numbered(5)));

    const auto second = inbox.take(3, more);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(second[2].payload, "5");
    EXPECT_FALSE(more);
    // Emptied: the next message asks for a turn again.
    EXPECT_TRUE(inbox.put(numbered(6)));
}

}  // namespace
}  // namespace relay::mqtt
