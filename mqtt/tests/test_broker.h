#pragma once
// A real mosquitto broker for one test: its own config, data dir and free
// port on 127.0.0.1, started and killed by the test. Plus a plain
// libmosquitto client that watches and publishes from outside the code
// under test.

#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;

namespace relay::mqtt::testing {

constexpr std::chrono::milliseconds deadline{5000};

// Runs the event loop until done() holds or the deadline passes.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = deadline);

// Runs a tool to completion; false with its output in why on failure.
bool run_tool(const QString& program, const QStringList& arguments, std::string& why);

struct broker_options {
    // user:password pairs for a password file made with mosquitto_passwd.
    std::vector<std::pair<std::string, std::string>> users;
    // A TLS listener with these PEM files.
    std::string ca_file, cert_file, key_file;
};

class test_broker {
public:
    explicit test_broker(broker_options options = {});
    ~test_broker();

    // Starts on the same port every time; false (and why) when it does not
    // accept connections before the deadline.
    bool start(std::string& why);
    // SIGKILL: no goodbye to any client.
    void kill();

    std::uint16_t port() const { return port_; }
    std::string url() const;
    const QTemporaryDir& dir() const { return dir_; }

private:
    broker_options options;
    QTemporaryDir dir_;
    std::uint16_t port_ = 0;
    QProcess process;
};

struct received_message {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::chrono::steady_clock::time_point arrival;
};

// Watches everything under the given filters, from its own thread.
class test_client {
public:
    test_client(std::uint16_t port, const std::vector<std::string>& filters, const std::string& ca_file = {},
                const std::string& user = {}, const std::string& password = {});
    ~test_client();

    bool ready() const;
    std::vector<received_message> messages() const;
    std::vector<received_message> messages_on(const std::string& topic) const;
    // The payload last seen on the topic.
    std::optional<std::string> last(const std::string& topic) const;
    void clear();
    bool publish(const std::string& topic, const std::string& payload, bool retained = false);
    // A callback on the client's thread for each message, for timing.
    void on_each(std::function<void(const received_message&)> observer);

private:
    mosquitto* client = nullptr;
    mutable std::mutex lock;
    // What the accessors read, under the lock.
    std::vector<received_message> messages_;
    bool ready_ = false;
    std::function<void(const received_message&)> observer;
    int pending_subscriptions = 0;
};

// Not a broker: a listener on 127.0.0.1 that accepts connections and then
// says nothing, or hangs up at once (an end of stream, as a broker at its
// connection limit does). A session never gets going with it.
class mute_listener {
public:
    enum class manner { silent, hang_up };
    explicit mute_listener(manner how);

    std::uint16_t port() const { return server.serverPort(); }
    int accepted() const { return accepted_; }
    qint64 bytes_heard() const { return bytes_heard_; }

private:
    QTcpServer server;
    int accepted_ = 0;
    qint64 bytes_heard_ = 0;
};

}  // namespace relay::mqtt::testing
