#include "socket_client.h"

#include <QJsonDocument>
#include <QTest>

namespace relay::testing {

bool socket_client::connect_to(const std::string& path, int deadline_ms)
{
    own.socket.connectToServer(QString::fromStdString(path));
    return QTest::qWaitFor([&] { return own.socket.state() == QLocalSocket::ConnectedState; }, deadline_ms);
}

void socket_client::send(const QByteArray& bytes)
{
    own.socket.write(bytes);
    own.socket.flush();
}

std::optional<QJsonObject> socket_client::next(int deadline_ms)
{
    if (!QTest::qWaitFor([&] { return own.socket.canReadLine(); }, deadline_ms))
        return std::nullopt;
    const auto document = QJsonDocument::fromJson(own.socket.readLine());
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
    return QTest::qWaitFor([&] { return own.socket.state() == QLocalSocket::UnconnectedState; }, deadline_ms);
}

QJsonObject relays_json(const std::array<bool, 4>& relays)
{
    QJsonObject out;
    for (int i = 0; i < 4; ++i)
        out.insert(QString::number(i + 1), relays[static_cast<std::size_t>(i)] ? "on" : "off");
    return out;
}

}  // namespace relay::testing
