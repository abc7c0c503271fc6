// Lock files as the window's Qt port and relayd's both read them: who may
// take over a lock left behind, and who may not.

#include "serial/port_lock.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace relay {
namespace {

std::string own_program()
{
    char target[PATH_MAX] = {};
    const auto n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    const std::string path(target, n > 0 ? static_cast<std::size_t>(n) : 0);
    return path.substr(path.rfind('/') + 1);
}

std::string this_host()
{
    char name[HOST_NAME_MAX + 1] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// A process number nobody has: a child that has been reaped.
long gone_pid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

class lock_folder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/port_lock_test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void leave_lock(const std::string& contents) { std::ofstream(folder + "/LCK..ttyUSB7") << contents; }

    std::string folder;
};

struct left_behind {
    const char* what;
    std::string contents;
    bool taken_over;
};

TEST_F(lock_folder, a_lock_left_behind_is_taken_over_only_when_its_holder_is_gone)
{
    const std::string host = this_host();
    const left_behind cases[] = {
        {"a process that is gone", std::to_string(gone_pid()) + "\nrelayd\n" + host + "\n", true},
        {"a number now another program's", std::to_string(::getpid()) + "\nrelay-panel\n" + host + "\n", true},
        {"nothing readable", "garbage\n", true},
        {"an empty file", "", true},
        {"this very program, alive", std::to_string(::getpid()) + "\n" + own_program() + "\n" + host + "\n", false},
        {"a live process on another host", "1\nrelayd\nanother-host\n", false},
    };
    for (const auto& c : cases) {
        leave_lock(c.contents);
        port_lock lock("/dev/ttyUSB7", {folder});
        EXPECT_EQ(lock.try_lock(), c.taken_over) << c.what;
        EXPECT_EQ(lock.is_held(), c.taken_over) << c.what;
        if (!c.taken_over)
            std::filesystem::remove(folder + "/LCK..ttyUSB7");
    }
}

TEST_F(lock_folder, a_held_lock_names_its_holder_as_qt_does_and_goes_with_it)
{
    const std::string path = folder + "/LCK..pts_4";
    {
        port_lock lock("/dev/pts/4", {folder});
        ASSERT_TRUE(lock.try_lock());
        EXPECT_EQ(lock.path(), path);
        std::ifstream in(path);
        std::string pid, program, host;
        std::getline(in, pid);
        std::getline(in, program);
        std::getline(in, host);
        EXPECT_EQ(pid, std::to_string(::getpid()));
        EXPECT_EQ(program, own_program());
        EXPECT_EQ(host, this_host());

        port_lock second("/dev/pts/4", {folder});
        EXPECT_FALSE(second.try_lock());
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(lock_folder, no_folder_to_write_in_leaves_the_port_to_its_exclusive_open)
{
    port_lock lock("/dev/ttyUSB7", {folder + "/missing", "/nonexistent-lock-folder"});
    EXPECT_TRUE(lock.try_lock());
    EXPECT_FALSE(lock.is_held());
}

}  // namespace
}  // namespace relay
