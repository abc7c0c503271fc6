// The login's sessions and its slowing down of wrong passwords, on a clock
// stepped by hand.

#include "web/login_guard.h"

#include <gtest/gtest.h>

#include <set>

namespace relay::web {
namespace {

using namespace std::chrono_literals;

const clock_time start{};

TEST(same_secret, equal_only_when_every_byte_and_the_length_agree)
{
    struct row {
        const char* a;
        const char* b;
        bool same;
    };
    const row rows[] = {
        {"hunter2", "hunter2", true}, {"hunter2", "hunter3", false}, {"hunter2", "hunter22", false},
        {"hunter2", "", false},       {"", "", true},                {"Hunter2", "hunter2", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(same_secret(r.a, r.b), r.same) << r.a << " / " << r.b;
}

TEST(login_throttle, each_wrong_password_waits_twice_as_long_up_to_the_cap)
{
    login_throttle throttle;
    auto now = start;
    const std::chrono::milliseconds expected[] = {1000ms, 2000ms, 4000ms, 8000ms, 16000ms, 16000ms, 16000ms};
    for (const auto delay : expected) {
        EXPECT_EQ(throttle.failed("192.0.2.1", now), delay);
        EXPECT_TRUE(throttle.is_waiting("192.0.2.1", now));
        EXPECT_TRUE(throttle.is_waiting("192.0.2.1", now + delay - 1ms));
        EXPECT_FALSE(throttle.is_waiting("192.0.2.1", now + delay));
        EXPECT_FALSE(throttle.is_waiting("192.0.2.2", now)) << "another address is not held up";
        now += delay;
    }
    throttle.succeeded("192.0.2.1");
    EXPECT_EQ(throttle.failures("192.0.2.1"), 0);
    EXPECT_EQ(throttle.failed("192.0.2.1", now), first_failure_delay) << "a correct password starts afresh";
}

TEST(login_throttle, remembers_a_bounded_number_of_addresses)
{
    login_throttle throttle;
    auto now = start;
    throttle.failed("first", now);
    for (std::size_t i = 0; i < max_failing_addresses; ++i) {
        now += 1ms;
        throttle.failed("a" + std::to_string(i), now);
    }
    EXPECT_EQ(throttle.failures("first"), 0) << "the address that failed longest ago is forgotten";
    EXPECT_EQ(throttle.failures("a0"), 1);
}

TEST(session_book, a_session_lives_while_used_and_ends_when_closed_or_idle)
{
    session_book sessions;
    const auto token = sessions.open(start);
    EXPECT_EQ(token.size(), 64u);
    EXPECT_TRUE(sessions.is_valid(token, start));
    EXPECT_FALSE(sessions.is_valid(token.substr(0, 63), start)) << "a prefix is not the token";
    EXPECT_FALSE(sessions.is_valid(token + "0", start));
    EXPECT_FALSE(sessions.is_valid("", start));
    // Used just within its lifetime, it lives on from that use.
    EXPECT_TRUE(sessions.is_valid(token, start + session_idle_lifetime));
    EXPECT_TRUE(sessions.is_valid(token, start + 2 * session_idle_lifetime));
    EXPECT_FALSE(sessions.is_valid(token, start + 3 * session_idle_lifetime + 1s)) << "idle too long";
    EXPECT_EQ(sessions.size(), 0u);

    const auto other = sessions.open(start);
    sessions.close(other);
    EXPECT_FALSE(sessions.is_valid(other, start));
}

TEST(session_book, tokens_differ_and_the_oldest_session_goes_at_the_cap)
{
    session_book sessions;
    std::set<std::string> tokens;
    std::string first;
    for (std::size_t i = 0; i <= max_sessions; ++i) {
        const auto token = sessions.open(start + std::chrono::seconds(i));
        if (i == 0)
            first = token;
        tokens.insert(token);
    }
    EXPECT_EQ(tokens.size(), max_sessions + 1) << "every token is new";
    EXPECT_EQ(sessions.size(), max_sessions);
    EXPECT_FALSE(sessions.is_valid(first, start + 100s));
}

}  // namespace
}  // namespace relay::web
