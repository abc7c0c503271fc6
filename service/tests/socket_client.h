#pragma once
// A control socket client for tests: a real QLocalSocket on the test's own
// event loop, so the server in the same thread keeps running while the
// client waits for a line (with a deadline, never a fixed sleep).

#include <QJsonObject>
#include <QLocalSocket>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace relay::testing {

class socket_client {
public:
    bool connect_to(const std::string& path, int deadline_ms = 3000);
    void send(const QByteArray& bytes);
    // The next line as JSON; nothing when none came in time or it was not
    // a JSON object.
    std::optional<QJsonObject> next(int deadline_ms = 5000);
    // Sends one line and returns the reply to it.
    std::optional<QJsonObject> ask(const QByteArray& line, int deadline_ms = 5000);
    bool wait_closed(int deadline_ms = 5000);
    bool is_connected() const { return socket_.state() == QLocalSocket::ConnectedState; }
    QLocalSocket& socket() { return socket_; }

private:
    QLocalSocket socket_;
};

// A client on a plain AF_UNIX socket, for what QLocalSocket cannot do: end
// its input and go on reading, as `echo REQUEST | socat - UNIX-CONNECT:PATH`
// does. Its waits run the event loop, so a server in the same thread goes on.
class raw_client {
public:
    // Turns the server's loop until done() or the deadline; true when done.
    using waiter = std::function<bool(const std::function<bool()>& done, int deadline_ms)>;
    // On the test thread's Qt loop unless told another way to wait.
    explicit raw_client(waiter wait = {});
    ~raw_client();
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;

    bool connect_to(const std::string& path);
    bool send(const QByteArray& bytes);
    // shutdown(SHUT_WR): the server reads the end of input; replies still come.
    void end_input();
    // Closes both ways.
    void close();
    // The next line as JSON; nothing when none came in time, the server
    // closed first, or it was not a JSON object.
    std::optional<QJsonObject> next(int deadline_ms = 5000);
    // Waits for the server to close the connection; false at the deadline
    // or if more bytes came first.
    bool wait_closed(int deadline_ms = 5000);
    // The same, dropping whatever the server sent first.
    bool wait_closed_after_all(int deadline_ms = 5000);
    bool is_closed_by_server() const { return closed_by_server; }

private:
    void read_available();

    waiter wait;
    int fd = -1;
    QByteArray buffered;
    bool closed_by_server = false;
};

// Leaves a socket file at path that nobody answers on, as a killed owner does.
bool leave_dead_socket(const std::string& path);
// A file's permission bits (07777) and group; 0 and -1 when it is not there.
mode_t mode_of(const std::string& path);
gid_t group_of(const std::string& path);

// {"1":"on",...} for the board's relays.
QJsonObject relays_json(const std::array<bool, 4>& relays);

}  // namespace relay::testing
