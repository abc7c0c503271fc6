#include "socket_client.h"

#include <QJsonDocument>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay::testing {

bool socket_client::connect_to(const std::string& path, int deadline_ms)
{
    socket_.connectToServer(QString::fromStdString(path));
    return QTest::qWaitFor([&] { return socket_.state() == QLocalSocket::ConnectedState; }, deadline_ms);
}

void socket_client::send(const QByteArray& bytes)
{
    socket_.write(bytes);
    socket_.flush();
}

std::optional<QJsonObject> socket_client::next(int deadline_ms)
{
    if (!QTest::qWaitFor([&] { return socket_.canReadLine(); }, deadline_ms))
        return std::nullopt;
    const auto document = QJsonDocument::fromJson(socket_.readLine());
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QJsonObject> socket_client::ask(const QByteArray& line, int deadline_ms)
{
    send(line + '\n');
    return next(deadline_ms);
}

bool socket_client::wait_closed(int deadline_ms)
{
    return QTest::qWaitFor([&] { return socket_.state() == QLocalSocket::UnconnectedState; }, deadline_ms);
}

raw_client::raw_client(waiter wait_) : wait(std::move(wait_))
{
    if (!wait)
        wait = [](const std::function<bool()>& done, int deadline_ms) { return QTest::qWaitFor(done, deadline_ms); };
}

raw_client::~raw_client() { close(); }

bool raw_client::connect_to(const std::string& path)
{
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The server's backlog takes the connection without its event loop.
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    return true;
}

bool raw_client::send(const QByteArray& bytes)
{
    return fd >= 0 &&
           ::send(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

void raw_client::end_input()
{
    if (fd >= 0)
        ::shutdown(fd, SHUT_WR);
}

void raw_client::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void raw_client::read_available()
{
    char chunk[4096];
    while (fd >= 0 && !closed_by_server) {
        const auto n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0)
            buffered.append(chunk, static_cast<qsizetype>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            closed_by_server = true;
        else
            return;
    }
}

std::optional<QJsonObject> raw_client::next(int deadline_ms)
{
    const bool got = wait(
        [&] {
            read_available();
            return buffered.contains('\n') || closed_by_server;
        },
        deadline_ms);
    const auto newline = buffered.indexOf('\n');
    if (!got || newline < 0)
        return std::nullopt;
    const auto document = QJsonDocument::fromJson(buffered.left(newline));
    buffered.remove(0, newline + 1);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

bool raw_client::wait_closed(int deadline_ms)
{
    const bool closed = wait(
        [&] {
            read_available();
            return closed_by_server;
        },
        deadline_ms);
    return closed && buffered.isEmpty();
}

bool raw_client::wait_closed_after_all(int deadline_ms)
{
    return wait(
        [&] {
            read_available();
            buffered.clear();
            return closed_by_server;
        },
        deadline_ms);
}

QJsonObject relays_json(const std::array<bool, 4>& relays)
{
    QJsonObject out;
    for (int i = 0; i < 4; ++i)
        out.insert(QString::number(i + 1), relays[static_cast<std::size_t>(i)] ? "on" : "off");
    return out;
}

mode_t mode_of(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

gid_t group_of(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 ? info.st_gid : static_cast<gid_t>(-1);
}

bool leave_dead_socket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                       ::listen(fd, 1) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

}  // namespace relay::testing
