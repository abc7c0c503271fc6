// Both loops keep one contract: what the control socket and the ports rely
// on must hold on relayd's epoll loop and on the window's Qt loop alike.

#include "loop_under_test.h"


#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace relay {
namespace {

using testing::steady;

struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
    pipe_pair()
    {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read_end = fds[0];
            write_end = fds[1];
        }
    }
    ~pipe_pair()
    {
        close_write();
        if (read_end >= 0)
            ::close(read_end);
    }
    void close_write()
    {
        if (write_end >= 0)
            ::close(write_end);
        write_end = -1;
    }
    void put(const char* text) { ASSERT_GT(::write(write_end, text, std::strlen(text)), 0); }
    std::string take()
    {
        char buffer[256];
        const auto n = ::read(read_end, buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
};

class io_loop_contract : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { under = testing::make_loop_under_test(GetParam()); }
    std::unique_ptr<testing::loop_under_test> under;
    io_loop& loop() { return under->loop(); }
};

TEST_P(io_loop_contract, timers_fire_in_order_of_their_expiry_and_once_unless_repeating)
{
    std::vector<std::string> fired;
    loop_timer late(loop(), [&] { fired.push_back("late"); });
    loop_timer early(loop(), [&] { fired.push_back("early"); });
    late.start_once(60ms);
    early.start_once(20ms);
    ASSERT_TRUE(under->turn_until([&] { return fired.size() == 2; }));
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
    EXPECT_FALSE(late.is_active());
    under->turn_for(100ms);
    EXPECT_EQ(fired.size(), 2u);
}

TEST_P(io_loop_contract, a_repeating_timer_keeps_its_period_and_stops_from_its_own_handler)
{
    int count = 0;
    std::vector<steady::time_point> when;
    std::unique_ptr<loop_timer> ticker;
    ticker = std::make_unique<loop_timer>(loop(), [&] {
        when.push_back(steady::now());
        if (++count == 5)
            ticker.reset();
    });
    const auto start = steady::now();
    ticker->start_every(20ms);
    ASSERT_TRUE(under->turn_until([&] { return count == 5; }));
    under->turn_for(60ms);
    EXPECT_EQ(count, 5);
    // Five periods, not five periods plus each turn's lateness.
    EXPECT_GE(when.back() - start, 100ms);
    EXPECT_LT(when.back() - start, 160ms);
}

TEST_P(io_loop_contract, a_stopped_or_restarted_timer_fires_only_where_last_started)
{
    int count = 0;
    loop_timer stopped(loop(), [&] { count += 100; });
    loop_timer restarted(loop(), [&] { ++count; });
    stopped.start_once(20ms);
    restarted.start_once(20ms);
    stopped.stop();
    restarted.start_once(40ms);
    under->turn_for(120ms);
    EXPECT_EQ(count, 1);
}

TEST_P(io_loop_contract, a_watch_hears_readable_bytes_only_while_enabled)
{
    pipe_pair p;
    std::string heard;
    fd_watch watch(loop(), p.read_end, io_loop::direction::read, [&] { heard += p.take(); });
    p.put("one");
    ASSERT_TRUE(under->turn_until([&] { return heard == "one"; }));
    watch.set_enabled(false);
    p.put("two");
    under->turn_for(50ms);
    EXPECT_EQ(heard, "one");
    watch.set_enabled(true);
    ASSERT_TRUE(under->turn_until([&] { return heard == "onetwo"; }));
}

TEST_P(io_loop_contract, a_handler_may_remove_its_own_watch_and_another_one)
{
    pipe_pair a;
    pipe_pair b;
    int calls = 0;
    fd_watch second;
    fd_watch first(loop(), a.read_end, io_loop::direction::read, [&] {
        ++calls;
        a.take();
        first.reset();
        second.reset();
    });
    second = fd_watch(loop(), b.read_end, io_loop::direction::read, [&] { calls += 100; });
    a.put("x");
    b.put("y");
    under->turn_until([&] { return calls != 0; });
    under->turn_for(50ms);
    EXPECT_TRUE(calls == 1 || calls == 101) << calls;
    const int settled = calls;
    a.put("again");
    b.put("again");
    under->turn_for(50ms);
    EXPECT_EQ(calls, settled);
}

TEST_P(io_loop_contract, a_descriptor_watched_both_ways_hears_each_way_apart)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    int reads = 0;
    int writes = 0;
    fd_watch reader(loop(), fds[0], io_loop::direction::read, [&] {
        char c;
        while (::read(fds[0], &c, 1) == 1)
            ++reads;
    });
    fd_watch writer(loop(), fds[0], io_loop::direction::write, [&] { ++writes; });
    ASSERT_TRUE(under->turn_until([&] { return writes > 0; }));
    writer.set_enabled(false);
    const int writes_then = writes;
    ASSERT_EQ(::write(fds[1], "ab", 2), 2);
    ASSERT_TRUE(under->turn_until([&] { return reads == 2; }));
    EXPECT_EQ(writes, writes_then);
    reader.reset();
    writer.reset();
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_P(io_loop_contract, work_posted_from_other_threads_runs_on_the_loop_in_order)
{
    std::vector<int> order;
    const auto loop_thread = std::this_thread::get_id();
    bool elsewhere = false;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop().post([&, i] {
                order.push_back(i);
                elsewhere = elsewhere || std::this_thread::get_id() != loop_thread;
            });
    });
    poster.join();
    ASSERT_TRUE(under->turn_until([&] { return order.size() == 100; }));
    EXPECT_FALSE(elsewhere);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

INSTANTIATE_TEST_SUITE_P(loops, io_loop_contract, ::testing::Values("epoll", "qt"),
                         [](const auto& info) { return info.param; });

TEST(epoll_loop, a_hung_up_descriptor_whose_watch_is_disabled_does_not_wake_the_loop)
{
    epoll_loop loop;
    pipe_pair p;
    int calls = 0;
    fd_watch watch(loop, p.read_end, io_loop::direction::read, [&] { ++calls; });
    watch.set_enabled(false);
    p.close_write();
    EXPECT_EQ(loop.run_once(0ms), 0);
    EXPECT_EQ(calls, 0);
    watch.set_enabled(true);
    EXPECT_EQ(loop.run_once(0ms), 1);
    EXPECT_EQ(calls, 1);
}

TEST(epoll_loop, timers_due_together_are_handled_in_one_turn_and_removal_forgets_them)
{
    epoll_loop loop;
    int fired = 0;
    std::vector<io_loop::timer_id> ids;
    for (int i = 0; i < 256; ++i)
        ids.push_back(loop.add_timer(0ms, 100ms, [&] { ++fired; }));
    EXPECT_EQ(loop.run_once(1s), 1);
    EXPECT_EQ(fired, 256);
    for (const auto id : ids)
        loop.remove_timer(id);
    EXPECT_EQ(loop.timer_count(), 0u);
}

TEST(epoll_loop, quit_ends_run_and_a_watch_may_go_with_its_descriptor_already_closed)
{
    epoll_loop loop;
    auto p = std::make_unique<pipe_pair>();
    fd_watch watch(loop, p->read_end, io_loop::direction::read, [] {});
    p.reset();
    watch.reset();
    EXPECT_EQ(loop.watch_count(), 0u);
    loop.post([&] { loop.quit(); });
    loop.run();
    SUCCEED();
}

}  // namespace
}  // namespace relay
