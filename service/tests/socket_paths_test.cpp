// Where the owner of a port serves its socket.

#include "service/socket_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

namespace relay {
namespace {

struct name_row {
    std::string device;
    std::string name;
};

void PrintTo(const name_row& row, std::ostream* os) { *os << row.device; }

class socket_names : public ::testing::TestWithParam<name_row> {};

TEST_P(socket_names, write_the_device_below_dev_with_dashes)
{
    EXPECT_EQ(socket_name_for(GetParam().device), GetParam().name);
}

// Devices that do not exist here, so that no symlink is followed.
INSTANTIATE_TEST_SUITE_P(table, socket_names,
                         ::testing::Values(name_row{"/dev/ttyUSB-none0", "ttyUSB-none0.sock"},
                                           name_row{"/dev/pts/no-such-9", "pts-no-such-9.sock"},
                                           name_row{"/dev/serial/by-id/usb-x", "serial-by-id-usb-x.sock"},
                                           name_row{"/tmp/no-such/board", "tmp-no-such-board.sock"}));

TEST(socket_paths, user_path_is_below_the_runtime_folder_and_system_path_below_run)
{
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4321", 1);
    EXPECT_EQ(user_socket_path("/dev/pts/no-such-3"), "/run/user/4321/relay-panel/pts-no-such-3.sock");
    EXPECT_EQ(system_socket_path("/dev/pts/no-such-3"), "/run/relayd/pts-no-such-3.sock");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(user_socket_path("/dev/pts/no-such-3").rfind("/tmp/relay-panel-", 0), 0u);
}

TEST(socket_paths, a_symlink_names_the_device_it_points_to)
{
    char folder[] = "/tmp/relay-link-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/board";
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
    EXPECT_EQ(socket_name_for(link), "null.sock");
    ::unlink(link.c_str());
    ::rmdir(folder);
}

TEST(socket_paths, a_relative_path_names_the_device_below_the_current_folder)
{
    char folder[] = "/tmp/relay-here-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    char before[4096];
    ASSERT_NE(::getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(::chdir(folder), 0);
    const auto name = socket_name_for("pts/no-such-9");
    ASSERT_EQ(::chdir(before), 0);
    ::rmdir(folder);
    std::string expected = std::string(folder + 1) + "-pts-no-such-9.sock";
    std::replace(expected.begin(), expected.end(), '/', '-');
    EXPECT_EQ(name, expected);
}

}  // namespace
}  // namespace relay
