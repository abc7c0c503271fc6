// Where relayd remembers its Home Assistant discovery messages, for every
// way it is started, and that each configuration has a record of its own.

#include "relayd/state_folder.h"

#include <gtest/gtest.h>

namespace relay::relayd {
namespace {

struct folder_row {
    const char* name;
    state_environment env;
    bool system_mode;
    std::string folder;
};

class state_folder_for : public ::testing::TestWithParam<folder_row> {};

TEST_P(state_folder_for, is_the_one_its_start_gives)
{
    const auto& r = GetParam();
    EXPECT_EQ(state_folder(r.env, r.system_mode), r.folder);
}

INSTANTIATE_TEST_SUITE_P(
    starts, state_folder_for,
    ::testing::Values(
        folder_row{"systemd_unit", {"/var/lib/relayd", "", "/"}, false, "/var/lib/relayd"},
        folder_row{"systemd_several", {"/var/lib/relayd:/var/lib/other", "", ""}, true, "/var/lib/relayd"},
        folder_row{"system_by_hand", {"", "/home/ann/.state", "/home/ann"}, true, "/var/lib/relayd"},
        folder_row{"xdg_state_home", {"", "/home/ann/.state", "/home/ann"}, false, "/home/ann/.state/relayd"},
        folder_row{"home_only", {"", "", "/home/ann"}, false, "/home/ann/.local/state/relayd"},
        folder_row{"relative_xdg_ignored", {"", "state", "/home/ann"}, false, "/home/ann/.local/state/relayd"},
        folder_row{"nowhere", {"", "", ""}, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(discovery_record_file, is_one_per_configuration)
{
    EXPECT_EQ(discovery_record_file("/var/lib/relayd", "/etc/relayd.conf", "1", 1),
              "/var/lib/relayd/ha-discovery-etc-relayd.conf");
    EXPECT_EQ(discovery_record_file("/s", "/etc/../etc/relayd.conf", "1", 1), "/s/ha-discovery-etc-relayd.conf");
    EXPECT_EQ(discovery_record_file("/s", "", "/dev/ttyUSB0", 3), "/s/ha-discovery-port-dev-ttyUSB0-3");
    EXPECT_EQ(discovery_record_file("/s", "", "1", 1), "/s/ha-discovery-port-1-1");
    EXPECT_NE(discovery_record_file("/s", "/etc/a.conf", "1", 1), discovery_record_file("/s", "/etc/b.conf", "1", 1));
    EXPECT_EQ(discovery_record_file("", "/etc/relayd.conf", "1", 1), "") << "no folder: nothing remembered";
}

TEST(pending_steps_file, is_one_per_board_of_a_configuration)
{
    EXPECT_EQ(pending_steps_file("/s", "/etc/relayd.conf", "1", 1, "cabinet"),
              "/s/pending-steps-etc-relayd.conf-cabinet");
    EXPECT_EQ(pending_steps_file("/s", "", "/dev/ttyUSB0", 3, "board"), "/s/pending-steps-port-dev-ttyUSB0-3-board");
    EXPECT_NE(pending_steps_file("/s", "/etc/relayd.conf", "1", 1, "a"),
              pending_steps_file("/s", "/etc/relayd.conf", "1", 1, "b"));
    EXPECT_EQ(pending_steps_file("", "/etc/relayd.conf", "1", 1, "a"), "");
}

}  // namespace
}  // namespace relay::relayd
