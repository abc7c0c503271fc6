#include "service/control_socket.h"

#include "host/port_holders.h"
#include "service/client_connection.h"
#include "service/line_reader.h"
#include "service/replies.h"
#include "service/request_book.h"
#include "service/socket_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay {
namespace {

// Replies and events waiting for one client; past this it is dropped
// rather than allowed to hold memory for a reader that has stopped.
constexpr std::size_t max_unread_bytes = 64 * 1024;
// The kernel's own buffer for a client is kept small, so that the limit
// above is most of what a stalled reader can cost.
constexpr int kernel_send_buffer = 16 * 1024;
constexpr std::size_t max_clients = 32;
// Requests one client may have waiting at once.
constexpr std::size_t max_open_requests_per_client = 64;

constexpr mode_t private_socket_mode = 0600;
constexpr mode_t group_socket_mode = 0660;
constexpr mode_t private_folder_mode = 0700;
constexpr mode_t group_folder_mode = 0750;
// A folder made for a group socket when that group cannot be given: the
// socket file's own 0660 then decides who may connect.
constexpr mode_t open_folder_mode = 0755;

// Connections the kernel holds for us while we are busy.
constexpr int listen_backlog = 64;
// Connections taken per wake-up, so that a crowd connecting at once cannot
// hold the thread (and its ticks) for long.
constexpr int accepts_per_turn = 16;
// With no descriptor left for a newcomer, it waits in the backlog and the
// socket stays ready to accept: listening rests this long, not to spin.
constexpr std::chrono::milliseconds accept_rest{100};

std::string octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Who is at the other end, as the kernel saw them connect.
std::string peer_origin(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return "socket client (credentials unknown)";
    return socket_client_origin(peer.uid, peer.pid, program_of(peer.pid));
}

std::string user_words(uid_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return "user " + std::string(found->pw_name);
    return "uid " + std::to_string(uid);
}

std::optional<gid_t> group_named(const std::string& name)
{
    if (name.empty())
        return std::nullopt;
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return std::nullopt;
    return found->gr_gid;
}

// Makes the folders that are missing, from the top down, each with the
// mode and group the socket wants. A folder that exists is left exactly as
// it is: it may be /tmp or /run, and not ours to change.
std::string make_missing_folders(const std::filesystem::path& folder, socket_access access, std::optional<gid_t> group)
{
    std::filesystem::path walked;
    for (const auto& part : folder) {
        walked /= part;
        if (::mkdir(walked.c_str(), private_folder_mode) != 0) {
            if (errno == EEXIST)
                continue;
            return "The folder " + walked.string() + " cannot be created: " + std::strerror(errno) + ".";
        }
        mode_t mode = private_folder_mode;
        if (access == socket_access::group) {
            const bool grouped = group && ::chown(walked.c_str(), static_cast<uid_t>(-1), *group) == 0;
            mode = grouped ? group_folder_mode : open_folder_mode;
        }
        if (::chmod(walked.c_str(), mode) != 0)
            return "The folder " + walked.string() + " cannot be given mode " + octal(mode) + ": " +
                   std::strerror(errno) + ".";
    }
    return {};
}

// Whoever may write to the socket's folder may put a socket of their own in
// its place, and hear what our clients send. A folder others may write to
// is refused, unless it is sticky (as /tmp) and the socket's path is ours
// or free: there nobody else may remove or rename our file.
std::string check_folder(const std::string& folder, const std::string& path)
{
    struct stat info{};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "The folder " + folder + " is not a folder.";
    const uid_t me = ::geteuid();
    if (info.st_uid != me && info.st_uid != 0)
        return "The folder " + folder + " belongs to " + user_words(info.st_uid) +
               ", who could replace the socket; choose a folder of your own.";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return {};
    if ((info.st_mode & S_ISVTX) == 0)
        return "The folder " + folder + " has mode " + octal(info.st_mode) +
               ": other users may write to it and it is not sticky, so they could replace the socket; choose a "
               "folder only you may write to.";
    struct stat there{};
    if (::lstat(path.c_str(), &there) == 0 && there.st_uid != me)
        return "The path " + path + " belongs to " + user_words(there.st_uid) + " in the shared folder " + folder +
               "; choose another.";
    return {};
}

// A folder of our own beside the socket's path, 0700, for the socket to be
// made in: removed with whatever is left in it.
class private_folder {
public:
    static constexpr const char* socket_name = "s";

    explicit private_folder(const std::string& beside) : path(beside + "/.relay-socket-XXXXXX")
    {
        if (!::mkdtemp(path.data())) {
            error = errno;
            path.clear();
            return;
        }
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            error = errno;
    }
    ~private_folder()
    {
        if (fd >= 0) {
            ::unlinkat(fd, socket_name, 0);
            ::close(fd);
        }
        if (!path.empty())
            ::rmdir(path.c_str());
    }
    private_folder(const private_folder&) = delete;
    private_folder& operator=(const private_folder&) = delete;

    bool made() const { return fd >= 0; }
    // The socket's path in it; through the folder's descriptor when the
    // plain one is too long for an address (a short name beside a long
    // folder), as the kernel resolves /proc/self/fd/N to the folder itself.
    std::string socket_path(std::size_t limit) const
    {
        const auto plain = path + "/" + socket_name;
        if (plain.size() < limit)
            return plain;
        return "/proc/self/fd/" + std::to_string(fd) + "/" + socket_name;
    }

    std::string path;
    int fd = -1;
    int error = 0;
};

struct made_socket {
    int fd = -1;
    ino_t inode = 0;
    std::string why;  // when fd < 0
};

// Binds and listens in a private folder beside path, where nobody else can
// reach the socket, gives it its group and mode there, and only then moves
// it to path: at no moment may anyone connect whom the final mode refuses,
// whatever this process's umask. The move never replaces what is at path
// by then: a program that came first keeps its socket.
made_socket make_socket(const std::string& folder, const std::string& path, socket_access access,
                        std::optional<gid_t> group)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {-1, 0,
                "The path " + path + " is longer than the " + std::to_string(sizeof address.sun_path - 1) +
                    " bytes a socket's path may have; choose a shorter one."};
    private_folder own(folder);
    if (!own.made())
        return {-1, 0,
                "Cannot serve " + path + ": no folder can be made in " + folder + ": " + std::strerror(own.error) +
                    "."};
    const auto where = own.socket_path(sizeof address.sun_path);
    std::memcpy(address.sun_path, where.c_str(), where.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {-1, 0, "Cannot serve " + path + ": " + std::strerror(errno) + "."};
    const auto fail = [&](const std::string& why) {
        ::close(fd);
        return made_socket{-1, 0, why};
    };
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail("Cannot serve " + path + ": " + std::strerror(errno) + ".");
    if (access == socket_access::group && group &&
        ::fchownat(own.fd, private_folder::socket_name, static_cast<uid_t>(-1), *group, AT_SYMLINK_NOFOLLOW) != 0) {
        // Neither root nor a member of the group: the socket keeps this
        // process's own group.
    }
    const mode_t mode = access == socket_access::owner_only ? private_socket_mode : group_socket_mode;
    if (::fchmodat(own.fd, private_folder::socket_name, mode, 0) != 0)
        return fail("The socket " + path + " cannot be given mode " + octal(mode) + ": " + std::strerror(errno) + ".");
    struct stat info{};
    if (::fstatat(own.fd, private_folder::socket_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(info.st_mode))
        return fail("The socket " + path + " vanished as it was made.");
    if (::listen(fd, listen_backlog) != 0)
        return fail("Cannot serve " + path + ": " + std::strerror(errno) + ".");

    int moved = ::renameat2(own.fd, private_folder::socket_name, AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system or kernel that cannot refuse to replace: a hard
        // link can.
        moved = ::linkat(own.fd, private_folder::socket_name, AT_FDCWD, path.c_str(), 0);
    }
    if (moved != 0 && errno == EEXIST) {
        const auto there = probe_socket(path);
        if (there.state == socket_state::live)
            return fail("The socket " + path + " is already served by " + describe_server(there) + ".");
        return fail("Something else was put at " + path + " while the socket was being made; try again.");
    }
    if (moved != 0)
        return fail("Cannot serve " + path + ": " + std::strerror(errno) + ".");
    return {fd, info.st_ino, {}};
}

}  // namespace

// Hears the board for the watchers; registered after the book, so that
// requests are answered before the event that shows the same frame.
struct control_socket::impl : board_core::listener {
    struct client {
        // A socket client's connection; a guest has none and is heard
        // through deliver.
        std::unique_ptr<client_connection> connection;
        deliver_function deliver;
        line_reader reader{max_request_bytes};
        std::string origin;
        bool watching = false;
        bool told_once = false;
        relay_statuses told_relays{};
        link_condition told_link = link_condition::lost;
    };
    using connection_list = std::vector<std::unique_ptr<client_connection>>;

    impl(io_loop& loop, board_core& board)
        : loop(loop), board(board),
          book(loop, board, [this](std::uint64_t id, const std::string& line) { send(id, line); })
    {
        board.add_listener(this);
    }
    ~impl() { board.remove_listener(this); }
    impl(const impl&) = delete;
    impl& operator=(const impl&) = delete;

    void relays_changed(const relay_states&) override { tell_watchers(); }
    void link_changed(link_condition) override { tell_watchers(); }

    void accept_waiting();
    void take(int fd);
    void turn_away(std::unique_ptr<client_connection> connection);
    void read(std::uint64_t id, const std::string& bytes);
    void input_ended(std::uint64_t id);
    void handle_line(std::uint64_t id, const line_reader::item& item);
    void send(std::uint64_t id, const std::string& line);
    void close_if_done(std::uint64_t id);
    void drop(std::uint64_t id);
    void retire(std::unique_ptr<client_connection> connection);
    void drop_departed();
    void tell_watchers();
    void tell_watcher(std::uint64_t id, client& c);
    const std::string& state_event_line(const relay_statuses& relays, link_condition link);

    io_loop& loop;
    board_core& board;
    request_book book;
    relay_names names{};
    // The last state event written, with what it says: every watcher is
    // told the same line, so a change is written once, not once a watcher.
    std::optional<std::pair<relay_statuses, link_condition>> event_says;
    std::string event_line;
    int listener = -1;
    fd_watch listening;
    loop_timer accept_pause{loop, [this] { listening.set_enabled(true); }};
    // A watcher that ended its input is not heard leaving: looked for each
    // poll period while anyone watches.
    loop_timer watch_check{loop, [this] { drop_departed(); }};
    std::string path;
    ino_t inode = 0;
    std::map<std::uint64_t, client> clients;
    // Refused for being one too many, until their refusal is written.
    std::map<std::uint64_t, std::unique_ptr<client_connection>> turned_away;
    std::uint64_t next_client = 1;
    // A connection dropped from inside one of its own callbacks is still
    // running below it: it is closed at once and destroyed on a later turn.
    // The list is shared with that turn's work, which may come after this
    // socket is gone; what is in it is closed and no longer on the loop.
    std::shared_ptr<connection_list> retired = std::make_shared<connection_list>();
};

void control_socket::impl::accept_waiting()
{
    for (int taken = 0; taken < accepts_per_turn;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            take(fd);
            ++taken;
            continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            listening.set_enabled(false);
            accept_pause.start_once(accept_rest);
            return;
        }
        // A newcomer that left before it was taken costs nothing; anything
        // else is news for the next wake-up.
        if (errno != ECONNABORTED && errno != EINTR)
            return;
    }
}

void control_socket::impl::take(int fd)
{
    auto connection = std::make_unique<client_connection>(loop, fd);
    if (clients.size() >= max_clients) {
        connection->write(error_reply(std::string(), reply_code::busy,
                                      "This board already has " + std::to_string(max_clients) +
                                          " clients; try again later."));
        turn_away(std::move(connection));
        return;
    }
    const int size = kernel_send_buffer;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    const auto id = next_client++;
    auto& c = clients[id];
    c.origin = peer_origin(fd);
    connection->on_received = [this, id](const std::string& bytes) { read(id, bytes); };
    connection->on_input_finished = [this, id] { input_ended(id); };
    connection->on_finished = [this, id] { drop(id); };
    c.connection = std::move(connection);
}

void control_socket::impl::turn_away(std::unique_ptr<client_connection> connection)
{
    const auto id = next_client++;
    connection->on_finished = [this, id] {
        const auto it = turned_away.find(id);
        if (it == turned_away.end())
            return;
        auto done = std::move(it->second);
        turned_away.erase(it);
        retire(std::move(done));
    };
    auto& kept = turned_away[id] = std::move(connection);
    // Stays until the refusal is written; mostly done at once.
    kept->close_when_written();
}

void control_socket::impl::read(std::uint64_t id, const std::string& bytes)
{
    auto it = clients.find(id);
    if (it == clients.end())
        return;
    const auto items = it->second.reader.feed(bytes);
    for (const auto& item : items) {
        if (clients.find(id) == clients.end())
            return;  // dropped while answering
        handle_line(id, item);
    }
}

// The peer has said all it will (`echo REQUEST | socat - UNIX-CONNECT:PATH`):
// what it asked is still answered, a last line without its newline too,
// and the connection closes once nothing is left to answer. A watch goes
// on until the peer closes altogether.
void control_socket::impl::input_ended(std::uint64_t id)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    if (const auto last = it->second.reader.finish())
        handle_line(id, *last);
    close_if_done(id);
}

void control_socket::impl::handle_line(std::uint64_t id, const line_reader::item& item)
{
    const std::string no_id;
    if (item.too_long) {
        send(id, error_reply(no_id, reply_code::usage,
                             "The line is longer than " + std::to_string(max_request_bytes) +
                                 " bytes; it is skipped to its end."));
        return;
    }
    const auto parsed = parse_request(item.line);
    if (const auto* refused = std::get_if<usage_error>(&parsed)) {
        send(id, error_reply(refused->id, reply_code::usage, refused->why));
        return;
    }
    auto r = std::get<request>(parsed);
    if (!r.relay_name.empty()) {
        const auto relay = resolve_relay(names, r.relay_name);
        if (!relay) {
            auto why = unknown_relay_words(names, r.relay_name) + ".";
            why[0] = static_cast<char>(why[0] - 'a' + 'A');
            send(id, error_reply(r.id, reply_code::usage, why));
            return;
        }
        r.relay = *relay;
    }
    if (r.kind == command_kind::watch) {
        auto& c = clients.at(id);
        c.watching = true;
        c.told_once = false;
        // A guest's leaving is told by its transport, not looked for.
        if (c.connection && !watch_check.is_active())
            watch_check.start_every(poll_period);
        tell_watcher(id, c);
        return;
    }
    if (book.open_requests(id) >= max_open_requests_per_client) {
        send(id, error_reply(r.id, reply_code::busy,
                             "This connection already has " + std::to_string(max_open_requests_per_client) +
                                 " requests waiting."));
        return;
    }
    book.take(id, r, clients.at(id).origin);
}

void control_socket::impl::send(std::uint64_t id, const std::string& line)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    if (!it->second.connection) {
        const auto deliver = it->second.deliver;
        if (!deliver(line))
            drop(id);
        return;
    }
    auto& connection = *it->second.connection;
    if (!connection.write(line) || connection.bytes_to_write() > max_unread_bytes) {
        drop(id);
        return;
    }
    close_if_done(id);
}

void control_socket::impl::close_if_done(std::uint64_t id)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    const auto& c = it->second;
    if (!c.connection || !c.connection->is_input_ended() || c.watching || book.open_requests(id) > 0)
        return;
    // Stays a client, and counts, until the last reply is written.
    c.connection->close_when_written();
}

void control_socket::impl::drop(std::uint64_t id)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    auto connection = std::move(it->second.connection);
    clients.erase(it);
    book.forget(id);
    if (connection)
        retire(std::move(connection));
    bool anyone_watching = false;
    for (const auto& [other, c] : clients)
        anyone_watching = anyone_watching || (c.watching && c.connection);
    if (!anyone_watching)
        watch_check.stop();
}

void control_socket::impl::retire(std::unique_ptr<client_connection> connection)
{
    connection->abort();
    if (retired->empty())
        loop.post([list = retired] {
            connection_list gone;
            gone.swap(*list);
        });
    retired->push_back(std::move(connection));
}

// A peer that ended its input is no longer heard leaving; those that watch
// are looked at here, the others learn it at their next reply.
void control_socket::impl::drop_departed()
{
    std::vector<std::uint64_t> gone;
    for (const auto& [id, c] : clients)
        if (c.connection && c.connection->is_input_ended() && c.connection->is_peer_gone())
            gone.push_back(id);
    for (const auto id : gone)
        drop(id);
}

void control_socket::impl::tell_watcher(std::uint64_t id, client& c)
{
    const auto relays = board.reported_statuses();
    const auto link = board.link_now();
    if (c.told_once && c.told_relays == relays && c.told_link == link)
        return;
    c.told_once = true;
    c.told_relays = relays;
    c.told_link = link;
    send(id, state_event_line(relays, link));
}

const std::string& control_socket::impl::state_event_line(const relay_statuses& relays, link_condition link)
{
    if (!event_says || event_says->first != relays || event_says->second != link) {
        event_line = state_event(relays, link, names);
        event_says.emplace(relays, link);
    }
    return event_line;
}

void control_socket::impl::tell_watchers()
{
    std::vector<std::uint64_t> ids;
    for (const auto& [id, c] : clients)
        if (c.watching)
            ids.push_back(id);
    for (const auto id : ids) {
        const auto it = clients.find(id);
        if (it != clients.end())
            tell_watcher(id, it->second);
    }
}

control_socket::control_socket(io_loop& loop, board_core& board) : d(std::make_unique<impl>(loop, board)) {}

control_socket::~control_socket() { close(); }

listen_result control_socket::listen(const std::string& path, socket_access access, const std::string& group_name)
{
    if (is_listening())
        return {false, "Already serving " + d->path + "."};
    auto folder = std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    const auto group = access == socket_access::group ? group_named(group_name) : std::nullopt;
    if (auto why = make_missing_folders(folder, access, group); !why.empty())
        return {false, why};
    if (auto why = check_folder(folder.string(), path); !why.empty())
        return {false, why};

    const auto existing = probe_socket(path);
    if (existing.state == socket_state::live)
        return {false, "The socket " + path + " is already served by " + describe_server(existing) + "."};
    if (existing.state == socket_state::not_a_socket)
        return {false, "The path " + path + " exists and is not a socket; remove it or choose another."};
    // A link left by a killed owner goes the same way as its socket; a
    // socket this user may not connect to is tried as one left behind, and
    // making ours says why when it is not.
    if (existing.state == socket_state::stale || existing.state == socket_state::forbidden)
        ::unlink(path.c_str());

    const auto made = make_socket(folder.string(), path, access, group);
    if (made.fd < 0)
        return {false, made.why};
    d->listener = made.fd;
    d->inode = made.inode;
    d->path = path;
    d->listening = fd_watch(d->loop, made.fd, io_loop::direction::read, [this] { d->accept_waiting(); });
    return {true, {}};
}

void control_socket::close()
{
    std::vector<std::uint64_t> ids;
    for (const auto& [id, c] : d->clients)
        ids.push_back(id);
    for (const auto id : ids)
        d->drop(id);
    for (auto& [id, connection] : d->turned_away)
        d->retire(std::move(connection));
    d->turned_away.clear();
    if (!is_listening())
        return;
    d->accept_pause.stop();
    d->listening.reset();
    ::close(d->listener);
    d->listener = -1;
    // Only our own file: a successor may already serve the same path.
    struct stat info{};
    if (::lstat(d->path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_ino == d->inode)
        ::unlink(d->path.c_str());
}

bool control_socket::is_listening() const { return d->listener >= 0; }

const std::string& control_socket::path() const { return d->path; }

void control_socket::set_audit(audit_function audit)
{
    d->book.set_audit([audit = std::move(audit)](const std::string& command, const std::string& origin,
                                                 const command_outcome& outcome) {
        if (audit)
            audit(audit_line(command, origin, outcome), outcome.confirmed);
    });
}

std::size_t control_socket::client_count() const { return d->clients.size(); }

control_socket::guest_id control_socket::add_guest(const std::string& origin, deliver_function deliver)
{
    if (d->clients.size() >= max_clients) {
        deliver(error_reply(std::string(), reply_code::busy,
                            "This board already has " + std::to_string(max_clients) + " clients; try again later."));
        return 0;
    }
    const auto id = d->next_client++;
    auto& c = d->clients[id];
    c.origin = origin;
    c.deliver = std::move(deliver);
    return id;
}

void control_socket::guest_says(guest_id guest, const std::string& line)
{
    const auto it = d->clients.find(guest);
    if (it == d->clients.end() || it->second.connection)
        return;
    line_reader::item item;
    item.too_long = line.size() > max_request_bytes;
    if (!item.too_long)
        item.line = line;
    d->handle_line(guest, item);
}

void control_socket::remove_guest(guest_id guest)
{
    const auto it = d->clients.find(guest);
    if (it != d->clients.end() && !it->second.connection)
        d->drop(guest);
}

bool control_socket::has_guest(guest_id guest) const
{
    const auto it = d->clients.find(guest);
    return it != d->clients.end() && !it->second.connection;
}

void control_socket::set_relay_names(const relay_names& names)
{
    d->names = names;
    d->book.set_names(names);
    // The last event's line carries the names it was written with.
    d->event_says.reset();
}

}  // namespace relay
