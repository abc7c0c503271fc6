#pragma once
// One connection to the broker, driven by libmosquitto from the io_loop it
// is made on: no thread of its own.
//
// The socket is watched for reading, and for writing only while
// libmosquitto has something queued; keep_alive(), called about once a
// second (one timer for all of a bridge's connections), sends the pings and
// notices a broker that fell silent. Everything, libmosquitto's callbacks
// included, runs on the loop's thread, so whoever handles the events needs
// no locks, and publishing writes straight to the socket.
//
// Nothing here may block the loop, whose poll ticks must never wait for a
// broker that is down or unreachable:
//  - The TCP connect is non-blocking (mosquitto_connect_async) and
//    completes when the socket turns writable; the TLS handshake goes on
//    from there in the socket's events.
//  - A host given by name needs a lookup, which may wait seconds for a DNS
//    server: the whole connect call then runs on a short-lived thread that
//    hands the connection back to the loop when it returns. An address
//    (127.0.0.1, ::1) needs no lookup and connects on the loop at once.
//  - Every failure, refused or lost, is retried from a loop timer: after
//    1 s, doubling to 30 s, back to 1 s once a connection was up.
//  - libmosquitto's external-loop calls spin on a socket that failed in the
//    middle of a TLS handshake (it keeps waiting for the handshake, and the
//    socket keeps saying it is readable): until the broker has accepted the
//    session, a socket's news is looked at first, and a hang-up or an
//    error ends the attempt.
//
// libmosquitto still makes the wake-up socket pair its own loop would wait
// on, and writes a byte to it for every packet it queues: with nobody
// reading, the pair fills after a few hundred packets and later writes
// fail with EAGAIN, harmlessly, until the next connect makes a new pair.

#include "loop/io_loop.h"
#include "mqtt/mqtt_settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace relay::mqtt {

constexpr std::chrono::seconds first_retry_delay{1};
constexpr std::chrono::seconds longest_retry_delay{30};
// How often keep_alive() is meant to be called.
constexpr std::chrono::seconds keep_alive_period{1};
// A clean stop waits this long for brokers to take the last messages.
constexpr std::chrono::seconds stop_grace{2};

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
    mqtt_connection(io_loop& loop, const mqtt_settings& settings, const std::string& password, const last_will& will,
                    std::vector<std::string> subscriptions, connection_events events);
    // Without a clean stop first, the broker publishes the will.
    ~mqtt_connection();
    mqtt_connection(const mqtt_connection&) = delete;
    mqtt_connection& operator=(const mqtt_connection&) = delete;

    // Throws std::runtime_error as the constructor does, and connects to
    // nothing: for checking the settings before any port opens.
    static void check_settings(const mqtt_settings& settings, const std::string& password);

    // The first connect attempt; events from the loop's next turns on.
    void start();
    // Pings and the broker's silence; about once a second.
    void keep_alive();
    // Sends a clean disconnect behind what is queued (so the broker keeps
    // the will to itself), without waiting for it to be written.
    void request_stop();
    // Waits, blocking the loop, until every connection given has written
    // its clean disconnect or stop_grace has passed: relayd stops, and the
    // brokers must hear "offline" and the goodbye before the ports close.
    static void finish_stopping(const std::vector<mqtt_connection*>& connections);

    // QoS 0: what was missed while disconnected is published again at the
    // next connect, so nothing needs to queue up meanwhile. False, and
    // nothing sent, until the broker has accepted the session.
    bool publish(const std::string& topic, const std::string& payload, bool retained);

    bool is_connected() const { return current == phase::up; }
    std::string broker() const;

private:
    enum class phase { idle, looking_up, connecting, up, waiting, stopping, stopped };
    // libmosquitto's client and what its callbacks and a lookup's thread
    // share with the connection; outlives the connection while a lookup
    // runs (see mqtt_connection.cpp).
    struct shared_client;

    static void on_connect(mosquitto*, void* self, int rc);
    static void on_disconnect(mosquitto*, void* self, int rc);
    static void on_message(mosquitto*, void* self, const mosquitto_message* message);

    void attempt();
    void connect_returned(int rc, int saved_errno);
    void readable();
    void writable();
    bool socket_failed(int& rc, int& saved_errno) const;
    void settle(int rc, int saved_errno);
    void lost(int rc, int saved_errno);
    std::string failure_words(int rc, int saved_errno) const;

    io_loop& loop;
    mqtt_settings settings;
    std::vector<std::string> subscriptions;
    connection_events events;
    std::shared_ptr<shared_client> shared;

    phase current = phase::idle;
    fd_watch reader;
    fd_watch writer;
    int watched = -1;
    // A write event that moved nothing while a TLS handshake waits for the
    // broker: writes wait for the broker's answer or the next keep_alive().
    bool write_stalled = false;
    bool just_connected = false;
    loop_timer retry;
    std::chrono::seconds delay = first_retry_delay;
    // What the last attempt ended with, from the callbacks.
    int refused_code = 0;
    int disconnect_rc = 0;
    int disconnect_errno = 0;
};

// "wrong user name or password" for a CONNACK return code.
std::string connack_words(int code);

}  // namespace relay::mqtt
