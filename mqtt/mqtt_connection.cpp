#include "mqtt/mqtt_connection.h"

#include "text/shown_text.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace relay::mqtt {

// A lookup's thread holds it too, and when the connection is gone by the
// time the connect call returns, the last holder destroys the client. The
// callbacks reach the connection through owner, which only the loop's
// thread sets or reads but for the lookup's thread asking under the lock
// whether there is still a loop to hand the connection back to.
struct mqtt_connection::shared_client {
    mosquitto* client = nullptr;
    std::mutex lock;
    mqtt_connection* owner = nullptr;
    // libmosquitto's own words for a TLS failure, which only come through
    // its log; written on whichever thread made the call that failed.
    std::string last_library_error;

    shared_client() = default;
    shared_client(const shared_client&) = delete;
    shared_client& operator=(const shared_client&) = delete;
    ~shared_client()
    {
        if (client)
            mosquitto_destroy(client);
    }
};

namespace {

constexpr const char* system_ca_dir = "/etc/ssl/certs";

void init_library_once()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// getaddrinfo() turns an address into itself without asking anyone; a name
// may wait on a DNS server.
bool is_address(const std::string& host)
{
    in6_addr any{};
    return ::inet_pton(AF_INET, host.c_str(), &any) == 1 || ::inet_pton(AF_INET6, host.c_str(), &any) == 1;
}

mosquitto* make_client(const mqtt_settings& settings, const std::string& password, const last_will& will,
                       void* user_data)
{
    init_library_once();
    mosquitto* client = mosquitto_new(settings.client_id.c_str(), true, user_data);
    if (!client)
        throw std::runtime_error("cannot create an MQTT client: " + std::string(std::strerror(errno)));
    const auto check = [&client](int rc, const std::string& what) {
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(client);
            client = nullptr;
            throw std::runtime_error(what + ": " + mosquitto_strerror(rc));
        }
    };
    // MQTT 5 for one thing: "retain as published", without which a
    // retained command published while we listen looks like a fresh one.
    check(mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5), "cannot ask for MQTT 5");
    if (!settings.user.empty())
        check(mosquitto_username_pw_set(client, settings.user.c_str(), password.empty() ? nullptr : password.c_str()),
              "cannot set the MQTT user");
    check(mosquitto_will_set(client, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(), 1,
                             true),
          "cannot set the last will on " + will.topic);
    if (settings.tls) {
        const auto rc = settings.ca_file.empty()
                            ? mosquitto_tls_set(client, nullptr, system_ca_dir, nullptr, nullptr, nullptr)
                            : mosquitto_tls_set(client, settings.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
        check(rc, settings.ca_file.empty() ? std::string("cannot use the system's certificates in ") + system_ca_dir
                                           : "cannot use the CA file " + shown_text(settings.ca_file));
    }
    return client;
}

}  // namespace

std::string connack_words(int code)
{
    switch (code) {
    case 1:
    case 132:
        return "the broker refused the connection: it does not speak MQTT 5";
    case 2:
    case 133:
        return "the broker refused the client id";
    case 3:
    case 136:
        return "the broker refused the connection: it is unavailable";
    case 4:
    case 134:
        return "the broker refused the login: wrong user name or password";
    case 5:
    case 135:
        return "the broker refused the login: not authorised (wrong user name or password, or this user may "
               "not connect)";
    default:
        return "the broker refused the connection (code " + std::to_string(code) + ")";
    }
}

void mqtt_connection::check_settings(const mqtt_settings& settings, const std::string& password)
{
    mosquitto_destroy(make_client(settings, password, last_will{settings.topic_prefix + "/probe", "offline"}, nullptr));
}

mqtt_connection::mqtt_connection(io_loop& loop_, const mqtt_settings& settings_, const std::string& password,
                                 const last_will& will, std::vector<std::string> subscriptions_,
                                 connection_events events_)
    : loop(loop_), settings(settings_), subscriptions(std::move(subscriptions_)), events(std::move(events_)),
      shared(std::make_shared<shared_client>()), retry(loop_, [this] { attempt(); })
{
    shared->client = make_client(settings, password, will, shared.get());
    shared->owner = this;
    mosquitto_connect_callback_set(shared->client, &mqtt_connection::on_connect);
    mosquitto_disconnect_callback_set(shared->client, &mqtt_connection::on_disconnect);
    mosquitto_message_callback_set(shared->client, &mqtt_connection::on_message);
    mosquitto_log_callback_set(shared->client, [](mosquitto*, void* shared, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) && text)
            static_cast<shared_client*>(shared)->last_library_error = text;
    });
}

mqtt_connection::~mqtt_connection()
{
    reader.reset();
    writer.reset();
    const std::lock_guard<std::mutex> hold(shared->lock);
    shared->owner = nullptr;
}

std::string mqtt_connection::broker() const
{
    return (settings.tls ? "mqtts://" : "mqtt://") + settings.host + ":" + std::to_string(settings.port);
}

void mqtt_connection::start()
{
    if (current == phase::idle)
        attempt();
}

void mqtt_connection::attempt()
{
    refused_code = 0;
    disconnect_rc = 0;
    disconnect_errno = 0;
    shared->last_library_error.clear();
    const auto keepalive_s = static_cast<int>(keepalive.count());
    if (is_address(settings.host)) {
        current = phase::connecting;
        const int rc = mosquitto_connect_async(shared->client, settings.host.c_str(), settings.port, keepalive_s);
        connect_returned(rc, errno);
        return;
    }
    // The connect call, lookup and all, away from the loop. Until it hands
    // the connection back, nothing on the loop touches the client.
    current = phase::looking_up;
    try {
        std::thread([shared = shared, loop = &loop, host = settings.host, port = settings.port, keepalive_s] {
            const int rc = mosquitto_connect_async(shared->client, host.c_str(), port, keepalive_s);
            const int saved_errno = errno;
            const std::lock_guard<std::mutex> hold(shared->lock);
            if (shared->owner)
                loop->post([shared, rc, saved_errno] {
                    if (shared->owner)
                        shared->owner->connect_returned(rc, saved_errno);
                });
        }).detach();
    } catch (const std::system_error& e) {
        current = phase::connecting;
        lost(MOSQ_ERR_ERRNO, e.code().value());
    }
}

void mqtt_connection::connect_returned(int rc, int saved_errno)
{
    // A stop may have come while the lookup ran.
    if (current != phase::connecting && current != phase::looking_up)
        return;
    current = phase::connecting;
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(rc, saved_errno);
        return;
    }
    settle(rc, saved_errno);
}

bool mqtt_connection::socket_failed(int& rc, int& saved_errno) const
{
    char byte = 0;
    const auto n = ::recv(watched, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        return false;
    if (n == 0 || errno == ENOTCONN) {
        rc = MOSQ_ERR_CONN_LOST;
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return false;
    rc = MOSQ_ERR_ERRNO;
    saved_errno = errno;
    return true;
}

void mqtt_connection::readable()
{
    write_stalled = false;
    int rc = MOSQ_ERR_SUCCESS;
    int saved_errno = 0;
    if (current == phase::connecting && socket_failed(rc, saved_errno)) {
        lost(rc, saved_errno);
        return;
    }
    rc = mosquitto_loop_read(shared->client, 1);
    settle(rc, errno);
}

void mqtt_connection::writable()
{
    int rc = MOSQ_ERR_SUCCESS;
    int saved_errno = 0;
    const bool handshaking = current == phase::connecting;
    if (handshaking) {
        if (socket_failed(rc, saved_errno)) {
            lost(rc, saved_errno);
            return;
        }
        // libmosquitto goes on with a TLS handshake only from its read side,
        // even when the handshake waits to write.
        if (settings.tls) {
            const int fd = watched;
            rc = mosquitto_loop_read(shared->client, 1);
            settle(rc, errno);
            if (watched != fd || current != phase::connecting)
                return;
        }
    }
    rc = mosquitto_loop_write(shared->client, 1);
    saved_errno = errno;
    // Still wanting to write after a write event: the handshake waits for
    // the broker, and asking again would only spin.
    if (handshaking && mosquitto_want_write(shared->client))
        write_stalled = true;
    settle(rc, saved_errno);
}

void mqtt_connection::keep_alive()
{
    if (current != phase::connecting && current != phase::up)
        return;
    write_stalled = false;
    const int rc = mosquitto_loop_misc(shared->client);
    settle(rc, errno);
}

void mqtt_connection::settle(int rc, int saved_errno)
{
    mosquitto* client = shared->client;
    // libmosquitto closes the socket itself when the session ends: its
    // watches go before anything can open another descriptor of that number.
    const int fd = mosquitto_socket(client);
    if (fd != watched) {
        reader.reset();
        writer.reset();
        watched = -1;
        if (fd >= 0) {
            watched = fd;
            reader = fd_watch(loop, fd, io_loop::direction::read, [this] { readable(); });
            writer = fd_watch(loop, fd, io_loop::direction::write, [this] { writable(); });
        }
    }
    if (fd < 0) {
        if (current == phase::stopping) {
            current = phase::stopped;
        } else if (current == phase::connecting || current == phase::up) {
            // The call's own failure, else what libmosquitto told its
            // disconnect callback, whose errno was taken before any cleanup.
            const int why = rc != MOSQ_ERR_SUCCESS ? rc : disconnect_rc;
            lost(why != MOSQ_ERR_SUCCESS ? why : MOSQ_ERR_CONN_LOST,
                 disconnect_rc != 0 ? disconnect_errno : saved_errno);
        }
        return;
    }
    writer.set_enabled(!write_stalled && mosquitto_want_write(client));
    if (just_connected) {
        just_connected = false;
        delay = first_retry_delay;
        if (events.connected)
            events.connected();
    }
}

void mqtt_connection::lost(int rc, int saved_errno)
{
    reader.reset();
    writer.reset();
    watched = -1;
    write_stalled = false;
    just_connected = false;
    current = phase::waiting;
    const auto words = failure_words(rc, saved_errno) + "; trying again in " + std::to_string(delay.count()) + " s";
    retry.start_once(delay);
    delay = std::min(delay * 2, longest_retry_delay);
    if (events.disconnected)
        events.disconnected(words);
}

void mqtt_connection::request_stop()
{
    switch (current) {
    case phase::up: {
        current = phase::stopping;
        const int rc = mosquitto_disconnect(shared->client);
        settle(rc, errno);
        return;
    }
    case phase::stopping:
    case phase::stopped:
        return;
    default:
        // Nothing accepted by the broker: nothing to say goodbye to.
        reader.reset();
        writer.reset();
        watched = -1;
        retry.stop();
        current = phase::stopped;
    }
}

void mqtt_connection::finish_stopping(const std::vector<mqtt_connection*>& connections)
{
    const auto give_up = std::chrono::steady_clock::now() + stop_grace;
    for (;;) {
        std::vector<pollfd> sockets;
        std::vector<mqtt_connection*> stopping;
        for (auto* c : connections) {
            if (c->current == phase::stopping && c->watched >= 0) {
                sockets.push_back({c->watched, POLLOUT, 0});
                stopping.push_back(c);
            }
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(give_up - std::chrono::steady_clock::now()).count();
        if (sockets.empty() || left <= 0)
            return;
        if (::poll(sockets.data(), sockets.size(), static_cast<int>(left)) < 0 && errno != EINTR)
            return;
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            if (sockets[i].revents == 0)
                continue;
            const int rc = mosquitto_loop_write(stopping[i]->shared->client, 1);
            stopping[i]->settle(rc, errno);
        }
    }
}

bool mqtt_connection::publish(const std::string& topic, const std::string& payload, bool retained)
{
    // Not before the broker has accepted the session: libmosquitto would
    // send it behind the CONNECT but ahead of our subscriptions, and a
    // client that took an early "online" for its cue would publish a
    // command we are not yet subscribed to. The connect publishes
    // everything anyway.
    if (current != phase::up)
        return false;
    const int rc = mosquitto_publish(shared->client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 0, retained);
    // Written at once when the socket takes it; what it does not take
    // waits for the write watch.
    settle(rc, errno);
    return rc == MOSQ_ERR_SUCCESS;
}

void mqtt_connection::on_connect(mosquitto* client, void* shared, int rc)
{
    auto* me = static_cast<shared_client*>(shared)->owner;
    if (!me)
        return;
    if (rc != 0) {
        me->refused_code = rc;
        return;
    }
    // Queued, not written, inside a callback: the write watch sends them,
    // ahead of anything published once the callback has returned.
    for (const auto& filter : me->subscriptions)
        mosquitto_subscribe_v5(client, nullptr, filter.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    me->current = phase::up;
    // Told once libmosquitto's call has returned and the watches are right.
    me->just_connected = true;
}

void mqtt_connection::on_disconnect(mosquitto*, void* shared, int rc)
{
    const int saved_errno = errno;
    if (auto* me = static_cast<shared_client*>(shared)->owner) {
        me->disconnect_rc = rc;
        me->disconnect_errno = saved_errno;
    }
}

void mqtt_connection::on_message(mosquitto*, void* shared, const mosquitto_message* message)
{
    auto* me = static_cast<shared_client*>(shared)->owner;
    if (!me || !me->events.message || !message->topic)
        return;
    const auto* bytes = static_cast<const char*>(message->payload);
    const std::string payload = bytes ? std::string(bytes, static_cast<std::size_t>(message->payloadlen)) : "";
    me->events.message(message->topic, payload, message->retain);
}

std::string mqtt_connection::failure_words(int rc, int saved_errno) const
{
    const auto where = broker();
    const auto& library_error = shared->last_library_error;
    if (refused_code != 0)
        return where + ": " + connack_words(refused_code);
    switch (rc) {
    case MOSQ_ERR_TLS:
        return where + ": the TLS handshake failed" +
               (library_error.empty() ? std::string() : " (" + library_error + ")") +
               "; the broker's certificate must be signed by " +
               (settings.ca_file.empty() ? std::string("a CA the system trusts")
                                         : "the CA in " + shown_text(settings.ca_file)) +
               " and name the host " + settings.host;
    case MOSQ_ERR_EAI:
        return where + ": cannot find the host " + settings.host;
    case MOSQ_ERR_ERRNO:
        return where + ": " + std::strerror(saved_errno);
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return where + ": the connection was lost";
    case MOSQ_ERR_KEEPALIVE:
        return where + ": the broker stopped answering";
    default:
        return where + ": " + mosquitto_strerror(rc) +
               (library_error.empty() ? std::string() : " (" + library_error + ")");
    }
}

}  // namespace relay::mqtt
