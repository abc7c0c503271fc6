#include "service/control_socket.h"

#include "serial/port_holders.h"
#include "service/line_reader.h"
#include "service/replies.h"
#include "service/request_book.h"

// QLocalServer rather than raw sockets with QSocketNotifier: it binds with
// the file mode already set (no moment where the socket is open to all),
// and QLocalSocket buffers what the kernel will not take yet, so a write
// never blocks a tick and bytesToWrite() says how far a client has fallen
// behind.
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay {
namespace {

// Replies and events waiting for one client; past this it is dropped
// rather than allowed to hold memory for a reader that has stopped.
constexpr qint64 max_unread_bytes = 64 * 1024;
// The kernel's own buffer for a client is kept small, so that the limit
// above is most of what a stalled reader can cost.
constexpr int kernel_send_buffer = 16 * 1024;
constexpr std::size_t max_clients = 32;
// Requests one client may have waiting at once.
constexpr std::size_t max_open_requests_per_client = 64;

enum class socket_check { none, stale, live, not_a_socket };

struct live_peer {
    socket_check state = socket_check::none;
    int pid = 0;
};

// Connects without blocking: a refusal means the file was left behind by a
// process that is gone; an answer, or a full backlog, means one is there.
live_peer check_existing(const std::string& path)
{
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0)
        return {};
    if (!S_ISSOCK(info.st_mode))
        return {socket_check::not_a_socket, 0};
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {socket_check::stale, 0};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {socket_check::stale, 0};
    live_peer result{socket_check::stale, 0};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        result.state = socket_check::live;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
            result.pid = peer.pid;
    } else if (errno == EAGAIN || errno == EINPROGRESS) {
        result.state = socket_check::live;
    }
    ::close(fd);
    return result;
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

std::string prepare_folder(const std::string& folder, socket_access access)
{
    std::error_code error;
    const bool created = std::filesystem::create_directories(folder, error);
    if (error)
        return "The folder " + folder + " cannot be created: " + error.message() + ".";
    struct stat info{};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "The folder " + folder + " is not a folder.";
    if (access == socket_access::owner_only) {
        // Another user's folder could hand our clients to a socket of theirs.
        if (info.st_uid != ::geteuid())
            return "The folder " + folder + " belongs to another user.";
        if (::chmod(folder.c_str(), 0700) != 0)
            return "The folder " + folder + " cannot be made private: " + std::strerror(errno) + ".";
    } else if (created) {
        // The group reaches the socket through the folder; the socket file
        // itself carries the 0660.
        ::chmod(folder.c_str(), 0755);
    }
    return {};
}

}  // namespace

// Hears the board for the watchers; registered after the book, so that
// requests are answered before the event that shows the same frame.
struct control_socket::impl : board_observer {
    struct client {
        QLocalSocket* socket = nullptr;
        line_reader reader{max_request_bytes};
        std::string origin;
        bool watching = false;
        bool told_once = false;
        relay_statuses told_relays{};
        link_condition told_link = link_condition::lost;
    };

    impl(control_socket& owner, panel_controller& board)
        : owner(owner), board(board),
          book(board, [this](std::uint64_t id, const QByteArray& line) { send(id, line); })
    {
        // Link and frame changes arrive through the book's observer calls,
        // but the watchdog also turns the indicators to "state" on a tick
        // with no frame and no change of link (a lost port); a look each
        // poll period while someone watches catches that too.
        watch_check.setInterval(poll_period);
        QObject::connect(&watch_check, &QTimer::timeout, &owner, [this] { tell_watchers(); });
        board.add_observer(this);
    }
    ~impl() { board.remove_observer(this); }
    impl(const impl&) = delete;
    impl& operator=(const impl&) = delete;

    void client_command_sent(client_ticket) override {}
    void client_command_dropped(client_ticket, const std::string&) override {}
    void status_frame_accepted(const relay_statuses&) override { tell_watchers(); }
    void link_changed(link_condition, const relay_statuses&) override { tell_watchers(); }

    void accept();
    void read(std::uint64_t id);
    void handle_line(std::uint64_t id, const line_reader::item& item);
    void send(std::uint64_t id, const QByteArray& line);
    void drop(std::uint64_t id);
    void tell_watchers();
    void tell_watcher(std::uint64_t id, client& c);

    control_socket& owner;
    panel_controller& board;
    request_book book;
    QLocalServer server;
    QTimer watch_check;
    std::string path;
    ino_t inode = 0;
    std::map<std::uint64_t, client> clients;
    std::uint64_t next_client = 1;
};

void control_socket::impl::accept()
{
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        if (clients.size() >= max_clients) {
            socket->write(error_reply(QJsonValue(QJsonValue::Undefined), reply_code::busy,
                                      "This board already has " + std::to_string(max_clients) +
                                          " clients; try again later."));
            // Closes once the refusal is written.
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            continue;
        }
        const int size = kernel_send_buffer;
        ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        const auto id = next_client++;
        clients[id].socket = socket;
        clients[id].origin = peer_origin(static_cast<int>(socket->socketDescriptor()));
        QObject::connect(socket, &QLocalSocket::readyRead, &owner, [this, id] { read(id); });
        QObject::connect(socket, &QLocalSocket::disconnected, &owner, [this, id] { drop(id); });
        // Bytes may have come with the connection.
        if (socket->bytesAvailable() > 0)
            read(id);
    }
}

void control_socket::impl::read(std::uint64_t id)
{
    auto it = clients.find(id);
    if (it == clients.end())
        return;
    const QByteArray bytes = it->second.socket->readAll();
    const auto items = it->second.reader.feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    for (const auto& item : items) {
        if (clients.find(id) == clients.end())
            return;  // dropped while answering
        handle_line(id, item);
    }
}

void control_socket::impl::handle_line(std::uint64_t id, const line_reader::item& item)
{
    const QJsonValue no_id(QJsonValue::Undefined);
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
    const auto& r = std::get<request>(parsed);
    if (r.kind == request_kind::watch) {
        auto& c = clients.at(id);
        c.watching = true;
        c.told_once = false;
        watch_check.start();
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

void control_socket::impl::send(std::uint64_t id, const QByteArray& line)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    QLocalSocket* socket = it->second.socket;
    socket->write(line);
    if (socket->bytesToWrite() > max_unread_bytes)
        drop(id);
}

void control_socket::impl::drop(std::uint64_t id)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    QLocalSocket* socket = it->second.socket;
    clients.erase(it);
    book.forget(id);
    QObject::disconnect(socket, nullptr, &owner, nullptr);
    socket->abort();
    socket->deleteLater();
    bool anyone_watching = false;
    for (const auto& [other, c] : clients)
        anyone_watching = anyone_watching || c.watching;
    if (!anyone_watching)
        watch_check.stop();
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
    send(id, state_event(relays, link));
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

control_socket::control_socket(panel_controller& board, QObject* parent)
    : QObject(parent), d(std::make_unique<impl>(*this, board))
{
    QObject::connect(&d->server, &QLocalServer::newConnection, this, [this] { d->accept(); });
}

control_socket::~control_socket()
{
    close();
}

listen_result control_socket::listen(const std::string& path, socket_access access)
{
    if (d->server.isListening())
        return {false, "Already serving " + d->path + "."};
    const auto folder = std::filesystem::path(path).parent_path().string();
    if (auto why = prepare_folder(folder, access); !why.empty())
        return {false, why};

    const auto existing = check_existing(path);
    if (existing.state == socket_check::live) {
        std::string who = "another program";
        if (existing.pid > 0) {
            const auto program = program_of(existing.pid);
            who = (program.empty() ? std::string("a program") : program) + " (pid " + std::to_string(existing.pid) + ")";
        }
        return {false, "The socket " + path + " is already served by " + who + "."};
    }
    if (existing.state == socket_check::not_a_socket)
        return {false, "The path " + path + " exists and is not a socket; remove it or choose another."};
    if (existing.state == socket_check::stale)
        ::unlink(path.c_str());

    d->server.setSocketOptions(access == socket_access::owner_only
                                   ? QLocalServer::UserAccessOption
                                   : QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!d->server.listen(QString::fromStdString(path)))
        return {false, "Cannot serve " + path + ": " + d->server.errorString().toStdString() + "."};
    struct stat info{};
    d->inode = ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    d->path = path;
    return {true, {}};
}

void control_socket::close()
{
    std::vector<std::uint64_t> ids;
    for (const auto& [id, c] : d->clients)
        ids.push_back(id);
    for (const auto id : ids)
        d->drop(id);
    if (!d->server.isListening())
        return;
    d->server.close();
    // Only our own file: a successor may already serve the same path.
    struct stat info{};
    if (::lstat(d->path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_ino == d->inode)
        ::unlink(d->path.c_str());
}

bool control_socket::is_listening() const { return d->server.isListening(); }

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

}  // namespace relay
