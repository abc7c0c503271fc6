#include "sim/pty_board.h"

#include "process_cpu.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

namespace relay {
namespace {

using testing::process_cpu_seconds;

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using bytes = std::vector<std::uint8_t>;

// The panel's end of the line, with plain POSIX calls.
class slave_end {
public:
    explicit slave_end(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~slave_end()
    {
        if (fd >= 0)
            ::close(fd);
    }
    slave_end(const slave_end&) = delete;
    slave_end& operator=(const slave_end&) = delete;

    bool is_open() const { return fd >= 0; }

    void send(const frame& f) const { ASSERT_EQ(::write(fd, f.data(), f.size()), 8); }

    // Reads until count bytes are in or the deadline passes.
    bytes read_exactly(std::size_t count, std::chrono::milliseconds timeout) const
    {
        bytes got;
        const auto deadline = clock_type::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
            if (left <= 0ms)
                break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
                continue;
            std::uint8_t buffer[64];
            const auto want = std::min(sizeof buffer, count - got.size());
            const auto n = ::read(fd, buffer, want);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    // True when something arrives within the timeout.
    bool anything_within(std::chrono::milliseconds timeout) const
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
    }

    int fd;
};

frame query(std::uint8_t address = 1) { return encode_command(address, status_query); }

bytes as_bytes(const frame& f) { return {f.begin(), f.end()}; }

const std::array<std::uint8_t, relay_count> all_off{status_off, status_off, status_off, status_off};

TEST(pty_board, answers_a_query_with_the_status_frame)
{
    pty_board board;
    slave_end line(board.slave_path());
    ASSERT_TRUE(line.is_open()) << board.slave_path();
    line.send(query(1));
    EXPECT_EQ(line.read_exactly(8, 2000ms), as_bytes(encode_status(1, code_status_query, all_off)));
}

TEST(pty_board, answers_after_the_frame_time_on_the_wire)
{
    pty_board board;
    slave_end line(board.slave_path());
    for (int round = 0; round < 5; ++round) {
        const auto before = board.frame_count();
        line.send(query());
        const auto answer = line.read_exactly(8, 2000ms);
        const auto read_at = clock_type::now();
        ASSERT_EQ(answer.size(), 8u);
        ASSERT_TRUE(board.wait_for_frame_count(before + 1, 2000ms));
        const auto arrival = board.received_frames().back().arrival;
        EXPECT_GE(read_at - arrival, frame_wire_time) << "round " << round;
    }
}

TEST(pty_board, switches_relays_and_reports_them)
{
    pty_board board;
    slave_end line(board.slave_path());
    line.send(encode_command(1, command_tuple{code_set_relays, {0, action_on, 0, action_on}}));
    const auto answer = line.read_exactly(8, 2000ms);
    EXPECT_EQ(answer, as_bytes(encode_status(1, code_set_relays, {status_off, status_on, status_off, status_on})));
    EXPECT_EQ(board.relays(), (std::array<bool, relay_count>{false, true, false, true}));
}

TEST(pty_board, logs_frames_and_counts_raw_bytes)
{
    pty_board board;
    slave_end line(board.slave_path());
    const bytes junk{0x01, 0x02, 0x03};
    ASSERT_EQ(::write(line.fd, junk.data(), junk.size()), 3);
    line.send(query(4));
    line.send(query(5));
    ASSERT_TRUE(board.wait_for_frame_count(2, 2000ms));
    const auto log = board.received_frames();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].bytes, query(4));
    EXPECT_EQ(log[1].bytes, query(5));
    EXPECT_LE(log[0].arrival, log[1].arrival);
    EXPECT_EQ(board.raw_bytes_received(), 19u);
}

TEST(pty_board, silent_board_hears_but_does_not_answer)
{
    pty_board board;
    slave_end line(board.slave_path());
    board.set_silent(true);
    line.send(encode_command(1, command_tuple{code_set_relays, {action_on, 0, 0, 0}}));
    ASSERT_TRUE(board.wait_for_frame_count(1, 2000ms));
    EXPECT_FALSE(line.anything_within(300ms));
    EXPECT_TRUE(board.relays()[0]);
    board.set_silent(false);
    line.send(query());
    EXPECT_EQ(line.read_exactly(8, 2000ms).size(), 8u);
}

TEST(pty_board, address_filter_answers_only_its_own_address)
{
    pty_board board(std::uint8_t{7});
    slave_end line(board.slave_path());
    line.send(query(6));
    ASSERT_TRUE(board.wait_for_frame_count(1, 2000ms));
    EXPECT_FALSE(line.anything_within(200ms));
    line.send(query(7));
    EXPECT_EQ(line.read_exactly(8, 2000ms), as_bytes(encode_status(7, code_status_query, all_off)));
}

TEST(pty_board, shaper_splits_an_answer_with_a_gap)
{
    pty_board board;
    slave_end line(board.slave_path());
    board.set_answer_shaper([](const frame& answer) {
        return std::vector<pty_board::chunk>{{{answer.begin(), answer.begin() + 5}, 0ms},
                                             {{answer.begin() + 5, answer.end()}, 60ms}};
    });
    line.send(query());
    const auto first = line.read_exactly(5, 2000ms);
    const auto first_at = clock_type::now();
    ASSERT_EQ(first.size(), 5u);
    // Nothing more may be waiting yet: the rest comes after the gap.
    EXPECT_FALSE(line.anything_within(20ms));
    const auto rest = line.read_exactly(3, 2000ms);
    const auto rest_at = clock_type::now();
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_GE(rest_at - first_at, 40ms);
    bytes whole = first;
    whole.insert(whole.end(), rest.begin(), rest.end());
    EXPECT_EQ(whole, as_bytes(encode_status(1, code_status_query, all_off)));
}

TEST(pty_board, shaper_can_add_and_change_bytes)
{
    pty_board board;
    slave_end line(board.slave_path());
    board.set_answer_shaper([](const frame& answer) {
        bytes b(answer.begin(), answer.end());
        b[3] = 0x80;
        b.push_back(0xFF);
        return std::vector<pty_board::chunk>{{b, 0ms}};
    });
    line.send(query());
    auto expected = as_bytes(encode_status(1, code_status_query, all_off));
    expected[3] = 0x80;
    expected.push_back(0xFF);
    EXPECT_EQ(line.read_exactly(9, 2000ms), expected);
}

TEST(pty_board, inject_puts_bytes_on_the_line_at_once)
{
    pty_board board;
    slave_end line(board.slave_path());
    const bytes junk{0x00, 0x55, 0xAA, 0xFF};
    board.inject(junk);
    EXPECT_EQ(line.read_exactly(4, 2000ms), junk);
}

TEST(pty_board, close_line_hangs_up_the_slave_with_eio)
{
    pty_board board;
    slave_end line(board.slave_path());
    line.send(query());
    ASSERT_EQ(line.read_exactly(8, 2000ms).size(), 8u);
    board.close_line();
    EXPECT_FALSE(board.line_open());
    // Linux hangs the slave up: it polls ready at once, a read finds the end
    // of the file and a write fails with EIO.
    pollfd p{line.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
    std::uint8_t byte = 0;
    EXPECT_LE(::read(line.fd, &byte, 1), 0);
    const frame q = query();
    errno = 0;
    EXPECT_EQ(::write(line.fd, q.data(), q.size()), -1);
    EXPECT_EQ(errno, EIO);
}

TEST(pty_board, reopen_line_gives_a_fresh_working_device)
{
    pty_board board;
    const auto first_path = board.slave_path();
    board.close_line();
    board.reopen_line();
    EXPECT_TRUE(board.line_open());
    slave_end line(board.slave_path());
    ASSERT_TRUE(line.is_open());
    line.send(query());
    EXPECT_EQ(line.read_exactly(8, 2000ms).size(), 8u);
}

std::string temporary_link_name()
{
    char dir_template[] = "/tmp/relay-sim-test-XXXXXX";
    const char* dir = ::mkdtemp(dir_template);
    return dir ? std::string(dir) + "/board" : std::string{};
}

std::string link_target(const std::string& path)
{
    char target[PATH_MAX] = {};
    const auto n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string{} : std::string(target, static_cast<std::size_t>(n));
}

TEST(pty_board, link_follows_the_line_and_goes_with_the_board)
{
    const auto link = temporary_link_name();
    ASSERT_FALSE(link.empty());
    {
        pty_board board;
        board.set_link_path(link);
        EXPECT_EQ(link_target(link), board.slave_path());
        board.reopen_line();
        EXPECT_EQ(link_target(link), board.slave_path());
        // Unplugged, the name is gone; plugged in again, it is back.
        board.close_line();
        EXPECT_NE(::access(link.c_str(), F_OK), 0);
        board.reopen_line();
        EXPECT_EQ(link_target(link), board.slave_path());
        slave_end line(link);
        ASSERT_TRUE(line.is_open());
        line.send(query());
        EXPECT_EQ(line.read_exactly(8, 2000ms).size(), 8u);
    }
    EXPECT_NE(::access(link.c_str(), F_OK), 0);
    const auto dir = link.substr(0, link.rfind('/'));
    ::rmdir(dir.c_str());
}

TEST(pty_board, a_second_board_can_take_over_the_link)
{
    const auto link = temporary_link_name();
    ASSERT_FALSE(link.empty());
    auto first = std::make_unique<pty_board>();
    first->set_link_path(link);
    pty_board second;
    second.set_link_path(link);
    first.reset();
    EXPECT_EQ(link_target(link), second.slave_path());
}

TEST(pty_board, idles_without_using_the_processor)
{
    pty_board board;
    {
        // Open and close once, as a panel connecting and disconnecting does,
        // so that the board must stay quiet with nobody on the line.
        slave_end line(board.slave_path());
        line.send(query());
        ASSERT_EQ(line.read_exactly(8, 2000ms).size(), 8u);
    }
    const slave_end watcher(board.slave_path());
    const double before = process_cpu_seconds();
    // Nothing will arrive: this is one second of the board idling.
    ASSERT_FALSE(watcher.anything_within(1000ms));
    const double used = process_cpu_seconds() - before;
    std::printf("processor time while idle for 1 s: %.4f s\n", used);
    EXPECT_LT(used, 0.05);
}

}  // namespace
}  // namespace relay
