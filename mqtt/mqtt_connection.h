#pragma once
// One connection to the broker, run by libmosquitto on a thread of its own.
//
// Why a thread and not the session's event loop: libmosquitto's connect
// resolves the host name and, for TLS, may wait on the handshake, and a
// broker that is down or unreachable must never hold up the 100 ms poll
// tick. On its own thread the connection can block, fail and back off as it
// likes. The loop is ours rather than mosquitto_loop_start's because that
// loop gives up for good after a TLS failure or an unresolvable host, and
// every failure here is retried: from 1 s, doubling to 30 s.
//
// Publishing and subscribing are safe from any thread (the library is told
// that it is used from several). Events arrive on the connection's thread;
// whoever handles them moves them to their own thread.

#include "mqtt/mqtt_settings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace relay::mqtt {

constexpr std::chrono::seconds first_retry_delay{1};
constexpr std::chrono::seconds longest_retry_delay{30};

struct connection_events {
    // The broker accepted the session; subscriptions are already asked for.
    std::function<void()> connected;
    // The session ended or a connect attempt failed, in plain words.
    std::function<void(const std::string& why)> disconnected;
    std::function<void(const std::string& topic, const std::string& payload, bool retained)> message;
};

struct last_will {
    std::string topic;
    std::string payload;
};

class mqtt_connection {
public:
    // Throws std::runtime_error when libmosquitto refuses the settings (a CA
    // file it cannot load, no memory): nothing to retry in that case.
    mqtt_connection(const mqtt_settings& settings, const std::string& password, const last_will& will,
                    std::vector<std::string> subscriptions, connection_events events);
    ~mqtt_connection();
    mqtt_connection(const mqtt_connection&) = delete;
    mqtt_connection& operator=(const mqtt_connection&) = delete;

    void start();
    // Asks for what stop() does without waiting for it, so that several
    // connections can wind down at once.
    void request_stop();
    // Sends what is queued and a clean disconnect (so the will is not
    // published), waiting at most stop_grace for the broker.
    void stop();

    // QoS 0: what was missed while disconnected is published again at the
    // next connect, so nothing needs to queue up meanwhile. False, and
    // nothing sent, until the broker has accepted the session.
    bool publish(const std::string& topic, const std::string& payload, bool retained);

    bool is_connected() const { return connected; }
    std::string broker() const;

private:
    static void on_connect(mosquitto*, void* self, int rc);
    static void on_message(mosquitto*, void* self, const mosquitto_message* message);
    static void on_log(mosquitto*, void* self, int level, const char* text);
    void run();
    std::string failure_words(int rc, int saved_errno);
    bool wait_before_retry(std::chrono::seconds delay);

    mqtt_settings settings;
    std::vector<std::string> subscriptions;
    connection_events events;
    mosquitto* client = nullptr;

    std::atomic<bool> connected{false};
    std::mutex lock;
    std::condition_variable stopping_changed;
    bool stopping = false;
    // Set on the connection's thread only.
    int refused_code = 0;
    std::string last_library_error;
    std::thread worker;
};

// "wrong user name or password" for a CONNACK return code.
std::string connack_words(int code);

}  // namespace relay::mqtt
