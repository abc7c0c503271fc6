// The hand-over from a broker connection's thread: one turn asked for per
// run of messages, each turn a bounded batch in order, and none lost when
// messages arrive from another thread while turns are taken.

#include "mqtt/message_inbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

TEST(message_inbox, loses_nothing_put_from_another_thread_while_turns_are_taken)
{
    message_inbox inbox;
    constexpr int count = 20000;
    std::atomic<int> turns_asked{0};
    std::thread connection([&] {
        for (int n = 0; n < count; ++n)
            if (inbox.put(numbered(n)))
                ++turns_asked;
    });
    int taken = 0;
    int expected = 0;
    bool in_order = true;
    while (taken < count) {
        bool more = false;
        for (const auto& m : inbox.take(16, more)) {
            in_order = in_order && m.payload == std::to_string(expected);
            ++expected;
            ++taken;
        }
    }
    connection.join();
    EXPECT_TRUE(in_order);
    bool more = true;
    EXPECT_TRUE(inbox.take(16, more).empty());
    EXPECT_FALSE(more);
    EXPECT_GE(turns_asked.load(), 1);
}

}  // namespace
}  // namespace relay::mqtt
