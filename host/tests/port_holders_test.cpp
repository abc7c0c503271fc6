// Naming the programs that hold a device, read from /proc, with a real child
// process holding a real pseudo-terminal.

#include "host/port_holders.h"
#include "sim/pty_board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace relay {
namespace {

using namespace std::chrono_literals;

// A child with the device as its standard input, until it is killed.
class holding_child {
public:
    // far_end: a pseudo-terminal's master descriptor for the child to hold
    // as well, as a simulated board does; opens: how often it opens the
    // device.
    holding_child(const std::string& device, const char* program, int far_end = -1, int opens = 1)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd < opens; ++fd)
            posix_spawn_file_actions_addopen(&actions, fd, device.c_str(), O_RDWR | O_NOCTTY, 0);
        if (far_end >= 0)
            posix_spawn_file_actions_adddup2(&actions, far_end, 3);
        char* const argv[] = {const_cast<char*>(program), const_cast<char*>("60"), nullptr};
        if (posix_spawnp(&pid, program, &actions, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~holding_child()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    holding_child(const holding_child&) = delete;
    holding_child& operator=(const holding_child&) = delete;

    pid_t pid = -1;
};

// The child opens the device after it starts; poll /proc with a deadline.
std::vector<port_holder> holders_once_seen(const std::string& device, pid_t pid)
{
    const auto until = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        auto found = port_holders(device);
        for (const auto& h : found)
            if (h.pid == pid)
                return found;
        if (std::chrono::steady_clock::now() > until)
            return found;
        std::this_thread::yield();
    }
}

TEST(port_holders, names_a_child_holding_the_pty_and_not_this_process)
{
    pty_board board;
    holding_child child(board.slave_path(), "sleep");
    ASSERT_GT(child.pid, 0);
    const auto holders = holders_once_seen(board.slave_path(), child.pid);
    ASSERT_EQ(holders.size(), 1u) << describe_holders(holders);
    EXPECT_EQ(holders[0].pid, child.pid);
    EXPECT_EQ(holders[0].program, "sleep");
    EXPECT_EQ(describe_holders(holders), "sleep (pid " + std::to_string(child.pid) + ")");
}

TEST(port_holders, two_holders_in_pid_order)
{
    pty_board board;
    holding_child first(board.slave_path(), "sleep");
    holding_child second(board.slave_path(), "sleep");
    ASSERT_GT(first.pid, 0);
    ASSERT_GT(second.pid, 0);
    holders_once_seen(board.slave_path(), first.pid);
    const auto holders = holders_once_seen(board.slave_path(), second.pid);
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_LT(holders[0].pid, holders[1].pid);
    EXPECT_NE(describe_holders(holders).find(" and "), std::string::npos);
}

// A child at the far end of a pseudo-terminal (holding its master side and
// one descriptor of the slave, as a simulated board does), beside a plain
// program holding the slave, which must always be named.
struct far_end_row {
    const char* name;
    int opens;  // how often the far end's child opens the slave
    bool named;
};

void PrintTo(const far_end_row& row, std::ostream* os) { *os << row.name; }

class far_end : public ::testing::TestWithParam<far_end_row> {};

TEST_P(far_end, of_a_pty_is_named_only_if_it_uses_the_port_too)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // Only the child given the master may hold it.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    const std::string device = ::ptsname(master);
    {
        holding_child board(device, "sleep", master, GetParam().opens);
        holding_child program(device, "sleep");
        ASSERT_GT(board.pid, 0);
        ASSERT_GT(program.pid, 0);
        // The board child was started first, so it holds both sides by the
        // time the other is seen.
        const auto holders = holders_once_seen(device, program.pid);
        std::vector<pid_t> pids;
        for (const auto& h : holders)
            pids.push_back(h.pid);
        std::vector<pid_t> expected{program.pid};
        if (GetParam().named)
            expected.insert(expected.begin(), board.pid);
        EXPECT_EQ(pids, expected) << describe_holders(holders);
    }
    ::close(slave);
    ::close(master);
}

INSTANTIATE_TEST_SUITE_P(table, far_end,
                         ::testing::Values(far_end_row{"a_simulated_board_alone", 1, false},
                                           // relay-panel --simulate, connected: its board and its port.
                                           far_end_row{"a_program_with_its_own_simulated_board", 2, true}));

struct no_holder_row {
    const char* name;
    std::string device;
};

void PrintTo(const no_holder_row& row, std::ostream* os) { *os << row.name; }

class no_holders : public ::testing::TestWithParam<no_holder_row> {};

TEST_P(no_holders, finds_nobody)
{
    EXPECT_TRUE(port_holders(GetParam().device).empty());
}

INSTANTIATE_TEST_SUITE_P(table, no_holders,
                         ::testing::Values(no_holder_row{"missing_device", "/dev/no-such-device-xyz"},
                                           no_holder_row{"not_a_device", "/etc/hostname"},
                                           no_holder_row{"empty_path", ""}));

TEST(port_holders, nobody_describes_as_nothing) { EXPECT_EQ(describe_holders({}), ""); }

}  // namespace
}  // namespace relay
