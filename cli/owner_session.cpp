#include "cli/owner_session.h"

#include "cli/exit_codes.h"
#include "cli/report.h"
#include "protocol/reply_code.h"
#include "service/owner_lookup.h"
#include "service/request.h"
#include "service/socket_paths.h"
#include "service/socket_probe.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay::cli {
namespace {

int connect_unix(const std::string& path, std::string& why)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        why = "the socket path " + path + " is too long";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EACCES)
            why = "the owner of the port serves it at " + path + ", but this user may not use that socket. "
                  "For relayd's, join its group (sudo usermod -aG relayd $USER), then log in again";
        else
            why = "cannot connect to " + path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

relay_statuses statuses_from(const QJsonObject& relays)
{
    relay_statuses statuses{};
    for (int i = 0; i < relay_count; ++i) {
        const auto word = relays.value(QString::number(i + 1)).toString();
        statuses[static_cast<std::size_t>(i)] = word == QLatin1String("on")    ? status_on
                                                : word == QLatin1String("off") ? status_off
                                                                               : 0;
    }
    return statuses;
}

relay_names names_from(const QJsonObject& names)
{
    relay_names named{};
    for (int i = 0; i < relay_count; ++i)
        named[static_cast<std::size_t>(i)] = names.value(QString::number(i + 1)).toString().toStdString();
    return named;
}

// A code no owner sends reads as a port that stopped working.
int exit_for(const QString& word)
{
    const auto code = parse_reply_code_word(word.toStdString());
    return code ? exit_status_for(*code) : exit_port;
}

std::string request_line(const options& opts)
{
    QJsonObject request{{QLatin1String("cmd"), QLatin1String(command_word(opts.command))}};
    if (!opts.relay_name.empty())
        request.insert(QLatin1String("relay"), QString::fromStdString(opts.relay_name));
    else if (opts.relay != 0)
        request.insert(QLatin1String("relay"), opts.relay);
    if (takes_duration(opts.command))
        request.insert(QLatin1String("ms"), static_cast<qint64>(opts.duration.count()));
    return QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

}  // namespace

std::vector<owner_socket> owner_sockets()
{
    // Keyed by the socket a name leads to: an owner whose socket has a name
    // of its own is also linked at its device's usual name.
    std::map<std::string, std::pair<owner_socket, bool>> found;
    for (const auto& folder : {user_socket_folder(), system_socket_folder()}) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            const auto path = it->path().string();
            if (it->path().extension() != ".sock")
                continue;
            const auto probe = probe_socket(path);
            if (!serves_a_board(probe))
                continue;
            std::error_code unresolved;
            const auto socket = std::filesystem::canonical(path, unresolved);
            const auto key = unresolved ? path : socket.string();
            const owner_socket owner{path, probe.pid};
            const auto known = found.find(key);
            // The link is named after the device, the socket maybe not.
            if (known == found.end() || (probe.via_link && !known->second.second))
                found[key] = {owner, probe.via_link};
        }
    }
    std::vector<owner_socket> owners;
    for (const auto& [key, entry] : found)
        owners.push_back(entry.first);
    std::sort(owners.begin(), owners.end(), [](const owner_socket& a, const owner_socket& b) { return a.path < b.path; });
    return owners;
}

owner_session::owner_session(const options& opts, std::string socket_path, std::ostream& out, std::ostream& err)
    : opts(opts), path(std::move(socket_path)), out(out), err(err)
{
}

owner_session::~owner_session()
{
    if (fd >= 0)
        ::close(fd);
}

int owner_session::run()
{
    std::string why;
    fd = connect_unix(path, why);
    if (fd < 0) {
        err << "relayctl: " << why << '\n';
        return exit_port;
    }
    return opts.command == command_kind::watch ? watch() : ask();
}

bool owner_session::send_line(const std::string& line)
{
    std::size_t sent = 0;
    while (sent < line.size()) {
        const auto n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

owner_session::read_status owner_session::read_line(std::string& line,
                                                    std::optional<std::chrono::milliseconds> limit)
{
    const auto until = std::chrono::steady_clock::now() + limit.value_or(std::chrono::milliseconds(0));
    for (;;) {
        const auto newline = pending.find('\n');
        if (newline != std::string::npos) {
            line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            return read_status::line;
        }
        int wait_ms = -1;
        if (limit) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return read_status::timed_out;
            wait_ms = static_cast<int>(left.count());
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            continue;  // the deadline is checked above
        char buffer[4096];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return read_status::closed;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

int owner_session::ask()
{
    if (!send_line(request_line(opts))) {
        err << "relayctl: the owner of the port at " << path << " closed the connection\n";
        return exit_port;
    }
    // A --timeout longer than the owner's usual wait lengthens it alike.
    const auto wait = std::max(owner_reply_wait_for(opts.duration),
                               std::chrono::milliseconds(opts.timeout_ms) + opts.duration);
    std::string line;
    const auto status = read_line(line, wait);
    if (status == read_status::timed_out) {
        err << "relayctl: no answer from the owner of the port at " << path << " within " << wait.count()
            << " ms\n";
        return exit_no_answer;
    }
    if (status == read_status::closed) {
        err << "relayctl: the owner of the port at " << path << " closed the connection without an answer\n";
        return exit_port;
    }
    const auto reply = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    const state_report report{reply.value(QLatin1String("port")).toString().toStdString(),
                              static_cast<std::uint8_t>(reply.value(QLatin1String("address")).toInt(opts.address)),
                              statuses_from(reply.value(QLatin1String("relays")).toObject()),
                              names_from(reply.value(QLatin1String("names")).toObject())};
    if (reply.value(QLatin1String("ok")).toBool()) {
        out << format_states(report, opts.json) << '\n';
        return exit_success;
    }
    // A refusal shows what the board reported instead, as without an owner.
    if (reply.contains(QLatin1String("relays")))
        out << format_states(report, opts.json) << '\n';
    const auto error = reply.value(QLatin1String("error")).toString().toStdString();
    err << "relayctl: " << (error.empty() ? "the owner of the port sent an answer relayctl cannot read" : error)
        << '\n';
    return reply.isEmpty() ? exit_port : exit_for(reply.value(QLatin1String("code")).toString());
}

int owner_session::watch()
{
    if (!send_line(request_line(opts))) {
        err << "relayctl: the owner of the port at " << path << " closed the connection\n";
        return exit_port;
    }
    for (int printed = 0; opts.count == 0 || printed < opts.count;) {
        std::string line;
        if (read_line(line, std::nullopt) != read_status::line) {
            err << "relayctl: the owner of the port at " << path << " closed the connection\n";
            return exit_port;
        }
        const auto event = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (!event.contains(QLatin1String("event"))) {
            // A refusal of the watch itself (busy, or an owner that cannot watch).
            err << "relayctl: " << event.value(QLatin1String("error")).toString().toStdString() << '\n';
            return exit_for(event.value(QLatin1String("code")).toString());
        }
        const auto statuses = statuses_from(event.value(QLatin1String("relays")).toObject());
        const auto link = event.value(QLatin1String("link")).toString().toStdString();
        if (opts.json)
            out << QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString() << '\n';
        else
            out << format_plain(statuses) << " link=" << link << '\n';
        out.flush();
        ++printed;
    }
    return exit_success;
}

}  // namespace relay::cli
