// The record of discovery messages across restarts: what becomes stale when
// a board leaves the configuration or changes its ids, and that nothing a
// configured board stands for is ever cleared.

#include "mqtt/discovery_record.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace relay::mqtt {
namespace {

using topics = std::vector<std::string>;

const topics cabinet{"ha/switch/pi_cabinet/relay1/config", "ha/binary_sensor/pi_cabinet/link/config"};
const topics bench{"ha/switch/pi_bench/relay1/config", "ha/binary_sensor/pi_bench/link/config"};

class record : public ::testing::Test {
protected:
    std::string file() const { return dir.filePath("relayd/ha-discovery-etc-relayd.conf").toStdString(); }

    // relayd started with these boards in its file.
    discovery_record start(std::set<std::string> configured) const { return {file(), std::move(configured)}; }

    QTemporaryDir dir;
};

TEST_F(record, a_board_taken_out_of_the_file_is_stale_at_the_next_start)
{
    {
        auto first = start({"cabinet", "bench"});
        EXPECT_TRUE(first.stale().empty());
        first.announced("cabinet", cabinet);
        first.announced("bench", bench);
        EXPECT_TRUE(first.stale().empty());
        EXPECT_EQ(first.take_problem(), "");
    }
    auto second = start({"cabinet"});
    auto stale = second.stale();
    std::sort(stale.begin(), stale.end());
    auto expected = bench;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stale, expected);
    second.cleared(stale);
    EXPECT_TRUE(second.stale().empty());
    // Cleared for good: a third start owes nothing.
    EXPECT_TRUE(start({"cabinet"}).stale().empty());
    EXPECT_TRUE(start({}).stale().size() == cabinet.size()) << "cabinet's own are still remembered";
}

TEST_F(record, topics_a_board_no_longer_announces_are_owed_an_empty_message)
{
    auto r = start({"cabinet"});
    r.announced("cabinet", cabinet);
    // board_id set in the file: new ids, the old ones must go.
    const topics renamed{"ha/switch/pump/relay1/config", "ha/binary_sensor/pump/link/config"};
    r.announced("cabinet", renamed);
    auto stale = r.stale();
    std::sort(stale.begin(), stale.end());
    auto expected = cabinet;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stale, expected);
    // Not sent yet (no connection): still owed after a restart.
    EXPECT_EQ(start({"cabinet"}).stale().size(), cabinet.size());
    r.cleared(stale);
    EXPECT_TRUE(start({"cabinet"}).stale().empty());
}

TEST_F(record, discovery_turned_off_owes_every_message)
{
    auto r = start({"cabinet"});
    r.announced("cabinet", cabinet);
    r.announced("cabinet", {});
    EXPECT_EQ(r.stale().size(), cabinet.size());
}

TEST_F(record, a_topic_a_configured_board_stands_for_is_never_stale)
{
    {
        auto r = start({"old"});
        r.announced("old", cabinet);
    }
    // The section renamed but its board_id kept: the same topics.
    auto r = start({"new"});
    r.announced("new", cabinet);
    EXPECT_TRUE(r.stale().empty());
}

TEST_F(record, a_file_it_cannot_write_is_told_once_and_nothing_breaks)
{
    std::ofstream(dir.filePath("relayd").toStdString()) << "a file where the folder should be";
    auto r = start({"cabinet"});
    r.announced("cabinet", cabinet);
    EXPECT_NE(r.take_problem().find("cannot"), std::string::npos);
    EXPECT_EQ(r.take_problem(), "");
    EXPECT_TRUE(r.stale().empty());
}

// Nowhere to keep it (no state folder, or a bridge not told of one):
// nothing is remembered, so nothing, not even what was just published, is
// ever taken for stale.
TEST(record_without_file, remembers_nothing_and_removes_nothing)
{
    discovery_record r({}, {});
    r.announced("cabinet", cabinet);
    EXPECT_TRUE(r.stale().empty());
    r.announced("cabinet", bench);
    EXPECT_TRUE(r.stale().empty());
    EXPECT_EQ(r.take_problem(), "");
}

}  // namespace
}  // namespace relay::mqtt
