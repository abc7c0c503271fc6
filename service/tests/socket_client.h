#pragma once
// A control socket client for tests: a real QLocalSocket on the test's own
// event loop, so the server in the same thread keeps running while the
// client waits for a line (with a deadline, never a fixed sleep).

#include <QJsonObject>
#include <QLocalSocket>

#include <optional>
#include <string>
#include <vector>

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
    bool is_connected() const { return own.socket.state() == QLocalSocket::ConnectedState; }
    QLocalSocket& socket() { return own.socket; }

private:
    struct {
        QLocalSocket socket;
    } own;
};

// {"1":"on",...} for the board's relays.
QJsonObject relays_json(const std::array<bool, 4>& relays);

}  // namespace relay::testing
