#include "test_broker.h"

#include <csignal>
#include <sys/prctl.h>

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <mosquitto.h>

#include <unistd.h>

namespace relay::mqtt::testing {

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

bool run_tool(const QString& program, const QStringList& arguments, std::string& why)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        why = (program + " " + arguments.join(' ') + ": ").toStdString() + tool.readAll().toStdString() +
              tool.errorString().toStdString();
        return false;
    }
    return true;
}

test_broker::test_broker(broker_options options_) : options(std::move(options_))
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port_ = probe.serverPort();
}

test_broker::~test_broker() { kill(); }

std::string test_broker::url() const
{
    return (options.cert_file.empty() ? "mqtt://127.0.0.1:" : "mqtts://localhost:") + std::to_string(port_);
}

bool test_broker::start(std::string& why)
{
    if (!dir_.isValid()) {
        why = "no temporary directory";
        return false;
    }
    QString config = QString("listener %1 127.0.0.1\npersistence false\nlog_dest stderr\nlog_type error\nlog_type warning\n").arg(port_);
    // As root the broker would otherwise drop to a user that cannot read
    // the test's files; as anyone else this line does nothing.
    if (::geteuid() == 0)
        config += "user root\n";
    if (options.users.empty()) {
        config += "allow_anonymous true\n";
    } else {
        const auto passwords = dir_.filePath("passwords");
        bool first = true;
        for (const auto& [user, password] : options.users) {
            QStringList args;
            if (first)
                args << "-c";
            args << "-b" << passwords << QString::fromStdString(user) << QString::fromStdString(password);
            if (!run_tool("mosquitto_passwd", args, why))
                return false;
            first = false;
        }
        config += "allow_anonymous false\npassword_file " + passwords + "\n";
    }
    if (!options.cert_file.empty())
        config += QString("cafile %1\ncertfile %2\nkeyfile %3\n")
                      .arg(QString::fromStdString(options.ca_file), QString::fromStdString(options.cert_file),
                           QString::fromStdString(options.key_file));
    QFile file(dir_.filePath("mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        why = "cannot write the broker's config";
        return false;
    }
    file.close();

    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test killed at its time limit must not leave its broker running.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start("mosquitto", {"-c", file.fileName()});
    if (!process.waitForStarted(5000)) {
        why = "mosquitto does not start: " + process.errorString().toStdString();
        return false;
    }
    const bool up = wait_until([&] {
        if (process.state() != QProcess::Running)
            return true;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        return socket.waitForConnected(100);
    });
    if (!up || process.state() != QProcess::Running) {
        why = "mosquitto does not listen on port " + std::to_string(port_);
        return false;
    }
    return true;
}

void test_broker::kill()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

test_client::test_client(std::uint16_t port, const std::vector<std::string>& filters, const std::string& ca_file,
                         const std::string& user, const std::string& password)
{
    mosquitto_lib_init();
    client = mosquitto_new(nullptr, true, this);
    if (!user.empty())
        mosquitto_username_pw_set(client, user.c_str(), password.c_str());
    if (!ca_file.empty())
        mosquitto_tls_set(client, ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto& me = *static_cast<test_client*>(self);
        received_message r{m->topic, std::string(static_cast<const char*>(m->payload),
                                                 static_cast<std::size_t>(m->payloadlen)),
                           m->retain, std::chrono::steady_clock::now()};
        std::function<void(const received_message&)> call;
        {
            std::lock_guard<std::mutex> hold(me.lock);
            me.messages_.push_back(r);
            call = me.observer;
        }
        if (call)
            call(r);
    });
    mosquitto_subscribe_callback_set(client, [](mosquitto*, void* self, int, int, const int*) {
        auto& me = *static_cast<test_client*>(self);
        std::lock_guard<std::mutex> hold(me.lock);
        if (--me.pending_subscriptions == 0)
            me.ready_ = true;
    });
    const auto host = ca_file.empty() ? "127.0.0.1" : "localhost";
    if (mosquitto_connect(client, host, port, 30) != MOSQ_ERR_SUCCESS)
        return;
    pending_subscriptions = static_cast<int>(filters.size());
    for (const auto& f : filters)
        mosquitto_subscribe(client, nullptr, f.c_str(), 1);
    mosquitto_loop_start(client);
}

test_client::~test_client()
{
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, true);
    mosquitto_destroy(client);
}

bool test_client::ready() const
{
    std::lock_guard<std::mutex> hold(lock);
    return ready_;
}

std::vector<received_message> test_client::messages() const
{
    std::lock_guard<std::mutex> hold(lock);
    return messages_;
}

std::vector<received_message> test_client::messages_on(const std::string& topic) const
{
    std::vector<received_message> found;
    for (auto& m : messages())
        if (m.topic == topic)
            found.push_back(m);
    return found;
}

std::optional<std::string> test_client::last(const std::string& topic) const
{
    std::lock_guard<std::mutex> hold(lock);
    for (auto it = messages_.rbegin(); it != messages_.rend(); ++it)
        if (it->topic == topic)
            return it->payload;
    return std::nullopt;
}

void test_client::clear()
{
    std::lock_guard<std::mutex> hold(lock);
    messages_.clear();
}

bool test_client::publish(const std::string& topic, const std::string& payload, bool retained)
{
    return mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                             retained) == MOSQ_ERR_SUCCESS;
}

mute_listener::mute_listener(manner how)
{
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, how] {
        while (auto* socket = server.nextPendingConnection()) {
            ++accepted_;
            if (how == manner::hang_up) {
                // What came is read first, so that the hang-up is a plain
                // end of stream rather than a reset.
                bytes_heard_ += socket->readAll().size();
                socket->close();
                socket->deleteLater();
                continue;
            }
            // Kept open, children of the server, and read so that the
            // client's bytes are counted and its writes never stall.
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket] { bytes_heard_ += socket->readAll().size(); });
        }
    });
}

void test_client::on_each(std::function<void(const received_message&)> call)
{
    std::lock_guard<std::mutex> hold(lock);
    observer = std::move(call);
}

}  // namespace relay::mqtt::testing
