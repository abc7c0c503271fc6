// The client of a board's owner, as the window will attach with it: one
// table of cases against the real control socket serving a board core on
// relayd's epoll loop and on the window's Qt loop, against owners that send
// garbage, nothing, or turn it away, and against relayd itself on the
// simulated board.

#include "attach/owner_client.h"
#include "fake_board.h"
#include "loop_under_test.h"
#include "relayd_process.h"
#include "service/control_socket.h"
#include "service/owner_lookup.h"
#include "service/socket_paths.h"
#include "sim/pty_board.h"
#include "socket_client.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace relay {
namespace {

using testing::steady;
constexpr auto on = relay_state::on;
constexpr auto off = relay_state::off;
constexpr auto unknown = relay_state::unknown;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct heard_events : owner_client::listener {
    void attached(const owner_identity& owner) override { owners.push_back(owner); }
    void detached(const std::string& why) override { reasons.push_back(why); }
    void relays_changed(const relay_states& states) override { relays.push_back(states); }
    void link_changed(link_condition now) override { links.push_back(now); }
    void board_facts_changed(const board_facts& facts) override { boards.push_back(facts); }
    void command_finished(owner_client::ticket id, const owner_answer& answer) override
    {
        finished[id].push_back(answer);
    }

    std::vector<owner_identity> owners;
    std::vector<std::string> reasons;
    std::vector<relay_states> relays;
    std::vector<link_condition> links;
    std::vector<board_facts> boards;
    std::map<owner_client::ticket, std::vector<owner_answer>> finished;
};

// The board core on an in-memory port, answering with relay 2 on; the
// control socket that serves it once serve() is called; the client under
// test, not yet attached; all on one loop of the test's thread.
struct attach_rig {
    explicit attach_rig(const std::string& loop_name)
        : under(testing::make_loop_under_test(loop_name)), path(folder.filePath("board.sock").toStdString()),
          client(under->loop(), path)
    {
        client.add_listener(&heard);
        board.board.connect("1");
        board_reports({status_off, status_on, status_off, status_off});
    }
    ~attach_rig() { client.remove_listener(&heard); }
    attach_rig(const attach_rig&) = delete;
    attach_rig& operator=(const attach_rig&) = delete;

    bool serve()
    {
        owner = std::make_unique<control_socket>(under->loop(), board.board);
        return owner->listen(path, socket_access::owner_only).ok;
    }
    // Stops listening, drops its clients and removes the socket file.
    void owner_leaves() { owner.reset(); }
    void board_reports(std::array<std::uint8_t, relay_count> statuses)
    {
        board.tick();
        board.answer(statuses);
    }
    bool turn_until(const std::function<bool()>& done, std::chrono::milliseconds deadline = 3s)
    {
        return under->turn_until(done, deadline);
    }
    bool attached_and_shown(const relay_states& relays)
    {
        return turn_until([&] { return client.is_attached() && client.relays() == relays; });
    }

    QTemporaryDir folder;
    testing::fake_board board;
    std::unique_ptr<testing::loop_under_test> under;
    std::unique_ptr<control_socket> owner;
    std::string path;
    heard_events heard;
    owner_client client;
};

const relay_states served_at_start{off, on, off, off};

// An owner that is not the control socket: it listens, and takes the
// client's connection when told to, to say what a real one would not.
class hand_owner {
public:
    explicit hand_owner(const std::string& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            return;
        path.copy(address.sun_path, path.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd, 8) == 0) {
            listening = fd;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    ~hand_owner()
    {
        if (peer >= 0)
            ::close(peer);
        if (listening >= 0)
            ::close(listening);
    }
    hand_owner(const hand_owner&) = delete;
    hand_owner& operator=(const hand_owner&) = delete;

    bool is_listening() const { return listening >= 0; }
    // The client's connect() has already put it in the backlog.
    bool take()
    {
        peer = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        return peer >= 0;
    }
    bool put(const std::string& bytes)
    {
        return ::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // What the client has written so far.
    std::string heard()
    {
        std::string all;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            all.append(buffer, static_cast<std::size_t>(n));
        return all;
    }
    // Sends nothing more, but would still read.
    void stop_sending() { ::shutdown(peer, SHUT_WR); }

private:
    int listening = -1;
    int peer = -1;
};

// ---------------------------------------------------------------------------
// What each case does and checks.

void owner_present(attach_rig& rig)
{
    ASSERT_TRUE(rig.serve());
    rig.client.attach();
    ASSERT_TRUE(rig.attached_and_shown(served_at_start));
    EXPECT_EQ(rig.client.link(), link_condition::answering);
    EXPECT_EQ(rig.client.attempts(), 1);
    EXPECT_TRUE(rig.heard.reasons.empty());
    // This process serves the socket: the kernel names it.
    ASSERT_EQ(rig.heard.owners.size(), 1u);
    EXPECT_EQ(rig.heard.owners[0].pid, ::getpid());
    EXPECT_EQ(rig.heard.owners[0].program, "attach_tests");
    EXPECT_EQ(rig.heard.owners[0].words, "attach_tests (pid " + std::to_string(::getpid()) + ")");
    ASSERT_TRUE(rig.turn_until([&] { return !rig.client.board().port.empty(); }));
    EXPECT_EQ(rig.client.board().port, "/dev/ttyUSB0");
    EXPECT_EQ(rig.client.board().address, std::optional<std::uint8_t>(1));

    const auto id = rig.client.send(command_kind::on, 1);
    ASSERT_TRUE(rig.turn_until([&] { return rig.board.board.queued_commands() == 1; }));
    rig.board.tick();
    EXPECT_EQ(rig.board.last_sent(), encode_command(1, single_relay(1, action_on)));
    // Sent is not done: relay 1 turns on only from the board's answer.
    rig.under->turn_for(100ms);
    EXPECT_EQ(rig.client.relays()[0], off);
    EXPECT_EQ(rig.heard.finished.count(id), 0u);
    rig.board.answer({status_on, status_on, status_off, status_off});
    ASSERT_TRUE(rig.turn_until([&] { return rig.heard.finished.count(id) == 1; }));
    EXPECT_TRUE(rig.heard.finished[id][0].confirmed);
    ASSERT_TRUE(rig.attached_and_shown({on, on, off, off}));
    EXPECT_EQ(rig.heard.relays, (std::vector<relay_states>{served_at_start, {on, on, off, off}}));

    rig.client.detach();
    EXPECT_EQ(rig.client.stage(), attach_stage::idle);
    EXPECT_EQ(rig.client.relays(), all_unknown);
    EXPECT_EQ(rig.heard.reasons, std::vector<std::string>{"Detached from the board's owner."});
    ASSERT_TRUE(rig.turn_until([&] { return rig.owner->client_count() == 0; }));
}

// before: what is at the socket's path while nobody serves it.
void owner_absent_then_appears(attach_rig& rig, bool dead_socket_left)
{
    if (dead_socket_left) {
        ASSERT_TRUE(testing::leave_dead_socket(rig.path));
    }
    const auto early = rig.client.send(command_kind::on, 1);
    rig.client.attach();
    EXPECT_EQ(rig.client.stage(), attach_stage::waiting);
    ASSERT_EQ(rig.heard.reasons.size(), 1u);
    EXPECT_TRUE(has(rig.heard.reasons[0],
                    dead_socket_left ? "the one that served a board there has gone" : "there is no such socket"))
        << rig.heard.reasons[0];
    // A command with nobody to send it to ends on a later turn, once.
    EXPECT_TRUE(rig.heard.finished.empty());
    ASSERT_TRUE(rig.turn_until([&] { return rig.heard.finished.count(early) == 1; }));
    EXPECT_EQ(rig.heard.finished[early][0].code, reply_code::port);

    const auto start = steady::now();
    ASSERT_TRUE(rig.turn_until([&] { return rig.client.attempts() == 3; }, 5s));
    // Once a second, not as fast as the loop turns.
    EXPECT_GE(steady::now() - start, 1500ms);
    EXPECT_EQ(rig.heard.reasons.size(), 1u) << "the same reason told again";
    EXPECT_EQ(rig.client.relays(), all_unknown);
    EXPECT_EQ(rig.client.link(), link_condition::lost);

    ASSERT_TRUE(rig.serve());
    ASSERT_TRUE(rig.attached_and_shown(served_at_start));
    EXPECT_EQ(rig.client.link(), link_condition::answering);
    EXPECT_EQ(rig.heard.owners.size(), 1u);
    EXPECT_EQ(rig.heard.finished[early].size(), 1u);
}

void owner_leaves_and_returns(attach_rig& rig)
{
    ASSERT_TRUE(rig.serve());
    rig.client.attach();
    ASSERT_TRUE(rig.attached_and_shown(served_at_start));
    const auto unanswered = rig.client.send(command_kind::on, 3);
    ASSERT_TRUE(rig.turn_until([&] { return rig.board.board.queued_commands() == 1; }));

    rig.owner_leaves();
    ASSERT_TRUE(rig.turn_until([&] { return !rig.client.is_attached(); }));
    EXPECT_EQ(rig.client.relays(), all_unknown);
    EXPECT_EQ(rig.client.link(), link_condition::lost);
    EXPECT_EQ(rig.heard.relays.back(), all_unknown);
    EXPECT_EQ(rig.heard.links.back(), link_condition::lost);
    ASSERT_FALSE(rig.heard.reasons.empty());
    EXPECT_TRUE(has(rig.heard.reasons[0], "stopped serving the board at " + rig.path)) << rig.heard.reasons[0];
    ASSERT_EQ(rig.heard.finished[unanswered].size(), 1u);
    EXPECT_EQ(rig.heard.finished[unanswered][0].code, reply_code::port);

    // Tried again with nothing there, then back without a word from the caller.
    ASSERT_TRUE(rig.turn_until([&] { return rig.client.attempts() >= 2; }));
    ASSERT_TRUE(rig.serve());
    ASSERT_TRUE(rig.attached_and_shown(served_at_start));
    EXPECT_EQ(rig.client.link(), link_condition::answering);
    EXPECT_EQ(rig.heard.owners.size(), 2u);
    EXPECT_EQ(rig.heard.finished[unanswered].size(), 1u);

    // Detached, it looks for no owner any more.
    rig.client.detach();
    rig.owner_leaves();
    const auto attempts = rig.client.attempts();
    rig.under->turn_for(attach_retry_period + 500ms);
    EXPECT_EQ(rig.client.attempts(), attempts);
    EXPECT_EQ(rig.heard.reasons.back(), "Detached from the board's owner.");
}

// Commands for the board queued by someone else, whose ends nobody hears.
struct other_sender : board_core::sender {
    explicit other_sender(board_core& board) : board(board) {}
    ~other_sender() { board.forget_sender(this); }
    void command_finished(command_id, const command_result&) override {}
    board_core& board;
};

void refused_commands_are_told_once(attach_rig& rig)
{
    ASSERT_TRUE(rig.serve());
    rig.client.attach();
    ASSERT_TRUE(rig.attached_and_shown(served_at_start));
    other_sender others(rig.board.board);
    for (std::size_t i = 0; i < client_queue_capacity; ++i)
        ASSERT_TRUE(rig.board.board.queue_command(single_relay(1, action_on), &others));

    const auto busy = rig.client.send(command_kind::on, 3);
    const auto bad_relay = rig.client.send(command_kind::on, 9);
    const auto watch = rig.client.send(command_kind::watch);
    ASSERT_TRUE(rig.turn_until([&] { return rig.heard.finished.size() == 3; }));
    const auto& refused_busy = rig.heard.finished[busy].at(0);
    EXPECT_FALSE(refused_busy.confirmed);
    EXPECT_EQ(refused_busy.code, reply_code::busy);
    EXPECT_TRUE(has(refused_busy.words, "Too many commands are waiting for the board")) << refused_busy.words;
    const auto& refused_relay = rig.heard.finished[bad_relay].at(0);
    EXPECT_EQ(refused_relay.code, reply_code::usage);
    EXPECT_EQ(refused_relay.words, "\"relay\" must be the number 1, 2, 3 or 4, or a relay's name.");
    EXPECT_EQ(rig.heard.finished[watch].at(0).code, reply_code::usage);

    // The queue drains; the refused command never goes out, and nothing is
    // told twice.
    for (int i = 0; i < 4 * static_cast<int>(client_queue_capacity) && rig.board.board.queued_commands() > 0; ++i)
        rig.board_reports({status_on, status_on, status_off, status_off});
    ASSERT_EQ(rig.board.board.queued_commands(), 0u);
    rig.board_reports({status_on, status_on, status_off, status_off});
    ASSERT_TRUE(rig.attached_and_shown({on, on, off, off}));
    for (const auto& sent : rig.board.device.written) {
        std::uint8_t address = 0;
        command_tuple command;
        ASSERT_TRUE(decode_command(sent, address, command));
        EXPECT_NE(command.actions[2], action_on);
    }
    EXPECT_EQ(rig.heard.finished.size(), 3u);
    for (const auto& [id, answers] : rig.heard.finished)
        EXPECT_EQ(answers.size(), 1u) << "command " << id;
    EXPECT_TRUE(rig.client.is_attached());
}

void garbage_from_the_owner(attach_rig& rig)
{
    hand_owner owner(rig.path);
    ASSERT_TRUE(owner.is_listening());
    rig.client.attach();
    ASSERT_TRUE(owner.take());
    const std::string event = R"({"event":"state","relays":{"1":"on","2":"sideways"},"link":"answering"})"
                              "\n";
    ASSERT_TRUE(owner.put("not json\n" + std::string(3 * max_owner_line_bytes, 'x') + "\n" +
                          "[1,2]\n"
                          R"({"event":"party","relays":{"1":"on"}})" "\n"
                          R"({"event":"state","relays":[2,2,2,2],"link":"answering"})" "\n"
                          R"({"ok":true,"id":12345})" "\n"
                          "\xff\xfe{}\n" +
                          event.substr(0, 20)));
    rig.under->turn_for(100ms);
    EXPECT_EQ(rig.client.stage(), attach_stage::waiting);
    EXPECT_EQ(rig.client.relays(), all_unknown);
    // The rest of the line, and the reply to the client's own status request,
    // with a port name that would colour a terminal and an address no board has.
    ASSERT_TRUE(owner.put(event.substr(20) +
                          R"({"ok":true,"relays":{},"port":"/dev/ttyX\u001b[31m","address":300,"id":"board"})"
                          "\n"));
    ASSERT_TRUE(rig.attached_and_shown({on, unknown, unknown, unknown}));
    EXPECT_EQ(rig.client.link(), link_condition::answering);
    ASSERT_TRUE(rig.turn_until([&] { return !rig.client.board().port.empty(); }));
    EXPECT_EQ(rig.client.board().port, "/dev/ttyX\\x1b[31m");
    EXPECT_EQ(rig.client.board().address, std::nullopt);
    EXPECT_EQ(owner.heard().substr(0, 16), "{\"cmd\":\"watch\"}\n");

    owner.stop_sending();
    ASSERT_TRUE(rig.turn_until([&] { return !rig.client.is_attached(); }));
    EXPECT_EQ(rig.client.relays(), all_unknown);
    EXPECT_EQ(rig.client.link(), link_condition::lost);
    EXPECT_TRUE(has(rig.client.why(), "stopped serving the board")) << rig.client.why();
    // Nothing left watching the half-closed socket, to wake the loop for ever.
    if (const auto watches = rig.under->watch_count()) {
        EXPECT_EQ(*watches, 0u);
    }
}

void owner_sends_nothing(attach_rig& rig)
{
    hand_owner owner(rig.path);
    ASSERT_TRUE(owner.is_listening());
    rig.client.attach();
    EXPECT_EQ(rig.client.stage(), attach_stage::waiting);
    EXPECT_TRUE(rig.heard.reasons.empty());
    const auto early = rig.client.send(command_kind::all_on);
    ASSERT_TRUE(rig.turn_until([&] { return !rig.heard.reasons.empty(); }, first_event_wait + 2s));
    EXPECT_TRUE(has(rig.heard.reasons[0], "took the connection at " + rig.path + " but sends nothing"))
        << rig.heard.reasons[0];
    EXPECT_TRUE(rig.heard.owners.empty());
    ASSERT_TRUE(rig.turn_until([&] { return rig.client.attempts() == 2; }));
    ASSERT_EQ(rig.heard.finished[early].size(), 1u);
    EXPECT_EQ(rig.heard.finished[early][0].code, reply_code::port);
}

// The control socket takes 32 clients; the 33rd is told why and hung up on.
void turned_away_until_a_client_leaves(attach_rig& rig)
{
    constexpr int served_clients = 32;
    ASSERT_TRUE(rig.serve());
    std::vector<std::unique_ptr<testing::raw_client>> others;
    const testing::raw_client::waiter wait = [&](const std::function<bool()>& done, int ms) {
        return rig.under->turn_until(done, std::chrono::milliseconds(ms));
    };
    for (int i = 0; i < served_clients; ++i) {
        others.push_back(std::make_unique<testing::raw_client>(wait));
        ASSERT_TRUE(others.back()->connect_to(rig.path));
    }
    ASSERT_TRUE(rig.turn_until([&] { return rig.owner->client_count() == served_clients; }));

    rig.client.attach();
    ASSERT_TRUE(rig.turn_until([&] { return rig.heard.reasons.size() == 1; }));
    EXPECT_TRUE(has(rig.heard.reasons[0], "turned this client away: This board already has 32 clients"))
        << rig.heard.reasons[0];
    EXPECT_FALSE(rig.client.is_attached());
    // Turned away again a second later: not news.
    ASSERT_TRUE(rig.turn_until([&] { return rig.client.attempts() == 2; }));
    ASSERT_TRUE(rig.turn_until([&] { return rig.owner->client_count() == served_clients; }));
    EXPECT_EQ(rig.heard.reasons.size(), 1u);

    others.front()->close();
    ASSERT_TRUE(rig.attached_and_shown(served_at_start));
}

// relayd on the simulated board, found from the board's port as relayctl
// finds it: through the link relayd puts at the port's usual socket path.
void relayd_on_a_simulated_board(attach_rig& rig)
{
    const auto runtime = rig.folder.filePath("run");
    ASSERT_EQ(::mkdir(runtime.toUtf8().constData(), 0700), 0);
    const char* runtime_before = std::getenv("XDG_RUNTIME_DIR");
    const std::string restore = runtime_before ? runtime_before : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.toUtf8().constData(), 1);
    struct put_back {
        std::string value;
        ~put_back() { value.empty() ? ::unsetenv("XDG_RUNTIME_DIR") : ::setenv("XDG_RUNTIME_DIR", value.c_str(), 1); }
    } restore_runtime{restore};

    pty_board board(1);
    const QStringList args{"--port", QString::fromStdString(board.slave_path()), "--socket",
                           QString::fromStdString(rig.path)};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime);
    const QRegularExpression answering("^<6>board: board at address 1 answering$", QRegularExpression::MultilineOption);
    auto relayd = std::make_unique<relayd::testing::relayd_process>(args, env);
    ASSERT_TRUE(relayd->wait_for_log(answering)) << relayd->log().toStdString();

    const auto found = find_owner(board.slave_path());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, user_socket_path(board.slave_path()));
    heard_events heard;
    owner_client client(rig.under->loop(), found->path);
    client.add_listener(&heard);
    struct stop_listening {
        owner_client& client;
        heard_events& heard;
        ~stop_listening() { client.remove_listener(&heard); }
    } stop{client, heard};

    client.attach();
    ASSERT_TRUE(rig.turn_until(
        [&] { return client.is_attached() && client.link() == link_condition::answering; }, 5s));
    EXPECT_EQ(client.owner().pid, relayd->pid());
    EXPECT_EQ(client.owner().program, "relayd");
    ASSERT_TRUE(rig.turn_until([&] { return !client.board().port.empty(); }));
    EXPECT_EQ(client.board().port, board.slave_path());
    EXPECT_EQ(client.board().address, std::optional<std::uint8_t>(1));

    const auto id = client.send(command_kind::on, 2);
    ASSERT_TRUE(rig.turn_until([&] { return heard.finished.count(id) == 1; }, 5s));
    EXPECT_TRUE(heard.finished[id][0].confirmed) << heard.finished[id][0].words;
    EXPECT_TRUE(board.relays()[1]);
    ASSERT_TRUE(rig.turn_until([&] { return client.relays()[1] == on; }));

    relayd->terminate();
    ASSERT_TRUE(relayd->wait_for_exit());
    ASSERT_TRUE(rig.turn_until([&] { return !client.is_attached(); }));
    EXPECT_EQ(client.relays(), all_unknown);
    EXPECT_EQ(client.link(), link_condition::lost);

    relayd = std::make_unique<relayd::testing::relayd_process>(args, env);
    ASSERT_TRUE(relayd->wait_for_log(answering)) << relayd->log().toStdString();
    ASSERT_TRUE(rig.turn_until([&] { return client.is_attached() && client.relays()[1] == on; }, 5s));
    EXPECT_EQ(client.owner().pid, relayd->pid());
    EXPECT_EQ(heard.owners.size(), 2u);
    EXPECT_EQ(heard.finished.size(), 1u);
}

// What a client in a child process that became `as` says after attach().
struct child_attach {
    bool became_user = false;
    std::string why;
};

std::optional<child_attach> attach_in_child_as(const passwd& as, const std::string& path)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(as.pw_gid) != 0 || ::setuid(as.pw_uid) != 0)
            ::_exit(3);
        epoll_loop loop;
        owner_client client(loop, path);
        // The first try is made inside attach().
        client.attach();
        const auto& why = client.why();
        for (std::size_t sent = 0; sent < why.size();) {
            const auto n = ::write(fds[1], why.data() + sent, why.size() - sent);
            if (n <= 0)
                ::_exit(4);
            sent += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    child_attach result;
    const auto until = steady::now() + 5s;
    char buffer[1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - steady::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        const auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.why.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return std::nullopt;
    result.became_user = WEXITSTATUS(status) != 3;
    return result;
}

// behind_folder: the socket is open to its group, but the folder it is in
// is closed to everyone else, as /run/relayd is.
void permission_denied(attach_rig& rig, bool behind_folder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "Only root can make a socket of a group this user is not in, and drop to nobody to be refused "
                        "by it; run as root to try a permission refused.";
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "No user nobody to drop to.";
    const passwd as = *nobody;
    const group* root_group = ::getgrgid(0);
    ASSERT_TRUE(root_group);
    const std::string group_name = root_group->gr_name;

    const auto top = rig.folder.path().toStdString();
    ASSERT_EQ(::chmod(top.c_str(), 0755), 0);
    std::string path = rig.path;
    const std::string folder = top + "/run";
    if (behind_folder) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0750), 0);
        ASSERT_EQ(::chown(folder.c_str(), 0, 0), 0);
        path = folder + "/board.sock";
    }
    control_socket owner(rig.under->loop(), rig.board.board);
    const auto listening = owner.listen(path, socket_access::group, group_name);
    ASSERT_TRUE(listening.ok) << listening.reason;
    ASSERT_EQ(testing::mode_of(path), 0660u);
    ASSERT_EQ(testing::group_of(path), 0u);

    const auto child = attach_in_child_as(as, path);
    ASSERT_TRUE(child);
    if (!child->became_user)
        GTEST_SKIP() << "The child could not become nobody.";
    EXPECT_TRUE(has(child->why, "only members of the group " + group_name + " may")) << child->why;
    EXPECT_TRUE(has(child->why, "sudo usermod -aG " + group_name + " $USER, then log in again")) << child->why;
    EXPECT_EQ(has(child->why, "the folder " + folder + " is closed to it"), behind_folder) << child->why;
}

// ---------------------------------------------------------------------------

struct attach_case {
    std::string name;
    std::function<void(attach_rig&)> act;
    std::vector<std::string> loops;
    // Waits on the client's one-second retry, or on real processes.
    bool takes_seconds = false;
};

const std::vector<std::string> both_loops{"epoll", "qt"};

const std::vector<attach_case> attach_cases{
    {"owner_present_state_arrives_and_a_command_is_confirmed_by_the_board", owner_present, both_loops},
    {"refused_commands_busy_and_usage_are_told_once_and_never_sent", refused_commands_are_told_once, both_loops},
    {"garbage_lines_are_skipped_and_a_half_closed_socket_detaches", garbage_from_the_owner, both_loops},
    {"permission_denied_names_the_sockets_group_and_the_fix", [](attach_rig& r) { permission_denied(r, false); },
     {"epoll"}},
    {"permission_denied_names_the_folders_group_and_the_fix", [](attach_rig& r) { permission_denied(r, true); },
     {"epoll"}},
    {"owner_absent_is_tried_each_second_and_attached_when_it_appears",
     [](attach_rig& r) { owner_absent_then_appears(r, false); }, both_loops, true},
    {"a_dead_owners_socket_is_tried_each_second_until_one_serves",
     [](attach_rig& r) { owner_absent_then_appears(r, true); }, {"epoll"}, true},
    {"owner_leaves_and_returns_without_the_caller", owner_leaves_and_returns, both_loops, true},
    {"an_owner_that_sends_nothing_is_left_and_tried_again", owner_sends_nothing, {"epoll"}, true},
    {"turned_away_as_one_client_too_many_then_attached_when_one_leaves", turned_away_until_a_client_leaves,
     {"epoll"}, true},
    {"relayd_on_a_simulated_board_found_from_its_port", relayd_on_a_simulated_board, {"qt"}, true},
};

struct attach_run {
    const attach_case* row;
    std::string loop;
};

void PrintTo(const attach_run& run, std::ostream* out) { *out << run.row->name << " on " << run.loop; }

std::vector<attach_run> runs(bool taking_seconds)
{
    std::vector<attach_run> all;
    for (const auto& row : attach_cases)
        if (row.takes_seconds == taking_seconds)
            for (const auto& loop : row.loops)
                all.push_back({&row, loop});
    return all;
}

class attach_case_test : public ::testing::TestWithParam<attach_run> {};

TEST_P(attach_case_test, holds)
{
    attach_rig rig(GetParam().loop);
    ASSERT_TRUE(rig.folder.isValid());
    ASSERT_EQ(rig.board.board.link_now(), link_condition::answering);
    GetParam().row->act(rig);
}

const auto run_name = [](const ::testing::TestParamInfo<attach_run>& info) {
    return info.param.row->name + "_on_" + info.param.loop;
};

INSTANTIATE_TEST_SUITE_P(at_once, attach_case_test, ::testing::ValuesIn(runs(false)), run_name);
INSTANTIATE_TEST_SUITE_P(over_seconds, attach_case_test, ::testing::ValuesIn(runs(true)), run_name);

}  // namespace
}  // namespace relay
