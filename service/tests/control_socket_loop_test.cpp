// The control socket on relayd's epoll loop and on the window's Qt loop, with
// the board core on an in-memory port stepped tick by tick: how the socket
// file comes to be, and clients dropped from inside the socket's own
// callbacks leaving nothing behind (worth running under the asan preset).

#include "fake_board.h"
#include "loop_under_test.h"
#include "service/control_socket.h"
#include "socket_client.h"


#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace relay {
namespace {

using testing::raw_client;

constexpr int deadline_ms = 3000;

class temporary_folder {
public:
    temporary_folder()
    {
        std::string pattern = "/tmp/relay-socket-test-XXXXXX";
        if (::mkdtemp(pattern.data()))
            path = pattern;
    }
    ~temporary_folder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    temporary_folder(const temporary_folder&) = delete;
    temporary_folder& operator=(const temporary_folder&) = delete;

    std::string path;
};

// The board core, a loop and a socket serving the core on it.
struct socket_rig {
    explicit socket_rig(const std::string& loop_name)
        : under(testing::make_loop_under_test(loop_name)), socket(under->loop(), board.board)
    {
        path = folder.path + "/board.sock";
    }

    bool serve() { return socket.listen(path, socket_access::owner_only).ok; }
    raw_client::waiter waiter()
    {
        return [this](const std::function<bool()>& done, int ms) {
            return under->turn_until(done, std::chrono::milliseconds(ms));
        };
    }
    // The board answers and reports these statuses (1 off, 2 on).
    void board_reports(std::array<std::uint8_t, relay_count> statuses)
    {
        board.tick();
        board.answer(statuses);
    }
    bool turn_until(const std::function<bool()>& done) { return under->turn_until(done, 3s); }

    temporary_folder folder;
    testing::fake_board board;
    std::unique_ptr<testing::loop_under_test> under;
    control_socket socket;
    std::string path;
};

// ---------------------------------------------------------------------------
// The socket file appears at its path with its final mode, never made there
// and narrowed afterwards, whatever the umask: nobody can connect whom the
// mode refuses, not even for a moment.

struct appearance_case {
    std::string name;
    socket_access access;
    std::string before;  // at the path before listening: "", "dead socket", "dangling link"
    bool long_folder;    // a folder so long that a folder inside it leaves no room for the address
    mode_t mode;
};

void PrintTo(const appearance_case& c, std::ostream* out) { *out << c.name; }

struct folder_event {
    std::uint32_t mask;
    std::string name;
};

std::vector<folder_event> read_events(int inotify)
{
    std::vector<folder_event> events;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const auto n = ::read(inotify, buffer, sizeof buffer);
        if (n <= 0)
            return events;
        for (char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            events.push_back({event->mask, event->len ? std::string(event->name) : std::string()});
            at += sizeof(inotify_event) + event->len;
        }
    }
}

std::set<std::string> entries_of(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

class socket_file_appearance : public ::testing::TestWithParam<appearance_case> {};

TEST_P(socket_file_appearance, appears_whole_with_its_mode_and_leaves_no_folder_behind)
{
    const auto& c = GetParam();
    socket_rig rig("epoll");
    ASSERT_FALSE(rig.folder.path.empty());
    std::string folder = rig.folder.path + "/run";
    if (c.long_folder)
        folder += "/" + std::string(96 - folder.size(), 'f');
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    const std::string name = "b.sock";
    const std::string path = folder + "/" + name;
    ASSERT_LT(path.size(), sizeof(sockaddr_un::sun_path));
    if (c.before == "dead socket") {
        ASSERT_TRUE(testing::leave_dead_socket(path));
    } else if (c.before == "dangling link") {
        ASSERT_EQ(::symlink((folder + "/gone.sock").c_str(), path.c_str()), 0);
    }

    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify, 0);
    ASSERT_GE(::inotify_add_watch(inotify, folder.c_str(),
                                  IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE),
              0);
    // Whatever bind() makes would be open to all.
    const mode_t umask_before = ::umask(0);
    const auto result = rig.socket.listen(path, c.access);
    ::umask(umask_before);
    const auto events = read_events(inotify);
    ::close(inotify);
    ASSERT_TRUE(result.ok) << result.reason;

    int moved_in = 0;
    std::set<std::string> folders_made;
    std::set<std::string> folders_removed;
    for (const auto& e : events) {
        if (e.name == name) {
            EXPECT_FALSE(e.mask & IN_CREATE) << "the socket was made at its path";
            EXPECT_FALSE(e.mask & IN_ATTRIB) << "the socket's mode or group changed at its path";
            moved_in += (e.mask & IN_MOVED_TO) ? 1 : 0;
        } else if (e.mask & IN_CREATE) {
            EXPECT_TRUE(e.mask & IN_ISDIR) << e.name << " was made beside the socket";
            folders_made.insert(e.name);
        } else if ((e.mask & IN_DELETE) && (e.mask & IN_ISDIR)) {
            folders_removed.insert(e.name);
        }
    }
    EXPECT_EQ(moved_in, 1);
    EXPECT_EQ(folders_made, folders_removed);
    EXPECT_EQ(entries_of(folder), std::set<std::string>{name});
    EXPECT_EQ(testing::mode_of(path), c.mode);

    raw_client client(rig.waiter());
    ASSERT_TRUE(client.connect_to(path));
    ASSERT_TRUE(client.send("hello\n"));
    const auto reply = client.next(deadline_ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["code"].toString(), "usage");
}

INSTANTIATE_TEST_SUITE_P(
    made_aside, socket_file_appearance,
    ::testing::Values(appearance_case{"owner_only", socket_access::owner_only, "", false, 0600},
                      appearance_case{"group", socket_access::group, "", false, 0660},
                      appearance_case{"over_a_dead_socket", socket_access::owner_only, "dead socket", false, 0600},
                      appearance_case{"over_a_dangling_link", socket_access::group, "dangling link", false, 0660},
                      appearance_case{"in_a_folder_of_a_long_name", socket_access::owner_only, "", true, 0600}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// A client that the socket drops, or closes, from inside one of its own
// callbacks (a read, a board event, a timer) is gone whole: no watch left
// on the loop, nothing freed still in use, and the socket goes on serving.

struct drop_case {
    std::string name;
    // Brings the client to its end; the peer's descriptor may be closed.
    std::function<void(socket_rig&, raw_client&)> act;
    // Whether the peer is still there to see the server close it.
    bool peer_stays;
};

void PrintTo(const drop_case& c, std::ostream* out) { *out << c.name; }

std::string bad_lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "x\n";
    return lines;
}

const std::vector<drop_case> drop_cases{
    // Its usage replies pile up past the limit within one read.
    {"reads_none_of_its_replies",
     [](socket_rig&, raw_client& c) { ASSERT_TRUE(c.send(QByteArray::fromStdString(bad_lines(8000)))); }, true},
    // Its requests are read after it left: the first reply cannot be written.
    {"hangs_up_right_after_asking",
     [](socket_rig&, raw_client& c) {
         ASSERT_TRUE(c.send(QByteArray::fromStdString(bad_lines(3))));
         c.close();
     },
     false},
    // Its command still waits for the board when its leaving is heard, and
    // is carried out after it has gone.
    {"hangs_up_while_its_command_waits",
     [](socket_rig& rig, raw_client& c) {
         ASSERT_TRUE(c.send(R"({"cmd":"on","relay":1})" "\n"));
         ASSERT_TRUE(rig.turn_until([&] { return rig.board.board.queued_commands() == 1; }));
         c.close();
         ASSERT_TRUE(rig.turn_until([&] { return rig.socket.client_count() == 0; }));
         rig.board_reports({status_on, status_off, status_off, status_off});
         EXPECT_EQ(rig.board.board.queued_commands(), 0u);
     },
     false},
    // Answered, then closed from inside the reading of its last bytes.
    {"ends_its_input_after_asking",
     [](socket_rig&, raw_client& c) {
         ASSERT_TRUE(c.send(QByteArray::fromStdString(bad_lines(2)) + R"({"cmd":"status","id":7})"));
         c.end_input();
         for (int i = 0; i < 3; ++i)
             ASSERT_TRUE(c.next(deadline_ms)) << i;
     },
     true},
    // Dropped while the watchers are told of a change: its event cannot be
    // written, and the loop has not turned since it left.
    {"a_watcher_hangs_up_as_the_relays_change",
     [](socket_rig& rig, raw_client& c) {
         ASSERT_TRUE(c.send(R"({"cmd":"watch"})" "\n"));
         ASSERT_TRUE(c.next(deadline_ms));
         c.close();
         rig.board_reports({status_on, status_off, status_off, status_off});
         EXPECT_EQ(rig.socket.client_count(), 0u);
     },
     false},
    // Not heard leaving once its end of input is read: found by the watch
    // check, a timer, unless the end and the leaving are read together.
    {"a_watcher_that_ended_its_input_leaves",
     [](socket_rig& rig, raw_client& c) {
         ASSERT_TRUE(c.send(R"({"cmd":"watch"})" "\n"));
         c.end_input();
         ASSERT_TRUE(c.next(deadline_ms));
         rig.board_reports({status_off, status_on, status_off, status_off});
         ASSERT_TRUE(c.next(deadline_ms));
         EXPECT_EQ(rig.socket.client_count(), 1u);
         c.close();
     },
     false},
};

class dropped_client : public ::testing::TestWithParam<std::tuple<drop_case, std::string>> {};

TEST_P(dropped_client, leaves_nothing_behind_and_the_socket_goes_on)
{
    const auto& [c, loop_name] = GetParam();
    socket_rig rig(loop_name);
    ASSERT_TRUE(rig.board.board.connect("1").ok);
    rig.board_reports({status_off, status_off, status_off, status_off});
    ASSERT_EQ(rig.board.board.link_now(), link_condition::answering);
    ASSERT_TRUE(rig.serve());

    raw_client client(rig.waiter());
    ASSERT_TRUE(client.connect_to(rig.path));
    ASSERT_TRUE(rig.turn_until([&] { return rig.socket.client_count() == 1; }));
    c.act(rig, client);
    ASSERT_TRUE(rig.turn_until([&] { return rig.socket.client_count() == 0; }));
    if (c.peer_stays) {
        EXPECT_TRUE(client.wait_closed_after_all(deadline_ms));
    }
    // The listening socket's alone.
    if (const auto watches = rig.under->watch_count()) {
        EXPECT_EQ(*watches, 1u);
    }

    raw_client next(rig.waiter());
    ASSERT_TRUE(next.connect_to(rig.path));
    ASSERT_TRUE(next.send(R"({"cmd":"status","id":"after"})" "\n"));
    const auto reply = next.next(deadline_ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["id"].toString(), "after");
    EXPECT_TRUE((*reply)["ok"].toBool());
}

INSTANTIATE_TEST_SUITE_P(in_its_own_callback, dropped_client,
                         ::testing::Combine(::testing::ValuesIn(drop_cases), ::testing::Values("epoll", "qt")),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_on_" + std::get<1>(info.param);
                         });

// ---------------------------------------------------------------------------
// With no descriptor left for a newcomer, the listening socket stays ready
// to accept; it must not wake the loop on every turn until one is free.

TEST(control_socket_on_epoll, a_full_descriptor_table_rests_accepting_rather_than_spinning)
{
    socket_rig rig("epoll");
    ASSERT_TRUE(rig.serve());
    auto& loop = dynamic_cast<testing::epoll_under_test&>(*rig.under).l;

    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    std::vector<int> fillers;
    const auto give_back = [&] {
        for (const int fd : fillers)
            ::close(fd);
        fillers.clear();
        ::setrlimit(RLIMIT_NOFILE, &before);
    };
    const int lowest_free = ::dup(0);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);
    rlimit tight = before;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free + 16);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int fd; (fd = ::dup(0)) >= 0;)
        fillers.push_back(fd);
    // One left, for the client: none for the server to accept it with.
    ::close(fillers.back());
    fillers.pop_back();
    raw_client client(rig.waiter());
    const bool connected = client.connect_to(rig.path);
    if (!connected)
        give_back();
    ASSERT_TRUE(connected);

    loop.run_once(100ms);  // the accept that fails
    int turns_with_news = 0;
    for (int i = 0; i < 5; ++i)
        turns_with_news += loop.run_once(0ms);
    const auto clients_meanwhile = rig.socket.client_count();
    give_back();
    EXPECT_LE(turns_with_news, 1);
    EXPECT_EQ(clients_meanwhile, 0u);

    ASSERT_TRUE(rig.turn_until([&] { return rig.socket.client_count() == 1; }));
    ASSERT_TRUE(client.send("hello\n"));
    const auto reply = client.next(deadline_ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["code"].toString(), "usage");
}

}  // namespace
}  // namespace relay
