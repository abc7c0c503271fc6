#include "mqtt/mqtt_connection.h"

#include "text/shown_text.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace relay::mqtt {
namespace {

// How long a loop pass may wait for the socket; also how soon a stop
// request is seen while the broker says nothing.
constexpr std::chrono::milliseconds loop_wait{500};
// A clean stop waits this long for the broker to take the last messages.
constexpr std::chrono::seconds stop_grace{2};
constexpr const char* system_ca_dir = "/etc/ssl/certs";

void init_library_once()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
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

mqtt_connection::mqtt_connection(const mqtt_settings& settings_, const std::string& password,
                                 const last_will& will, std::vector<std::string> subscriptions_,
                                 connection_events events_)
    : settings(settings_), subscriptions(std::move(subscriptions_)), events(std::move(events_))
{
    init_library_once();
    client = mosquitto_new(settings.client_id.c_str(), true, this);
    if (!client)
        throw std::runtime_error("cannot create an MQTT client: " + std::string(std::strerror(errno)));
    const auto check = [this](int rc, const std::string& what) {
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(client);
            client = nullptr;
            throw std::runtime_error(what + ": " + mosquitto_strerror(rc));
        }
    };
    check(mosquitto_threaded_set(client, true), "cannot set up the MQTT client");
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
    mosquitto_connect_callback_set(client, &mqtt_connection::on_connect);
    mosquitto_message_callback_set(client, &mqtt_connection::on_message);
    mosquitto_log_callback_set(client, &mqtt_connection::on_log);
}

mqtt_connection::~mqtt_connection()
{
    stop();
    if (client)
        mosquitto_destroy(client);
}

std::string mqtt_connection::broker() const
{
    return (settings.tls ? "mqtts://" : "mqtt://") + settings.host + ":" + std::to_string(settings.port);
}

void mqtt_connection::start()
{
    if (!worker.joinable())
        worker = std::thread([this] { run(); });
}

void mqtt_connection::request_stop()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (stopping)
            return;
        stopping = true;
    }
    stopping_changed.notify_all();
    // Queued behind whatever was published before, so those go out first.
    mosquitto_disconnect(client);
}

void mqtt_connection::stop()
{
    if (!worker.joinable())
        return;
    request_stop();
    worker.join();
}

bool mqtt_connection::publish(const std::string& topic, const std::string& payload, bool retained)
{
    // Not before the broker has accepted the session: libmosquitto would
    // send it behind the CONNECT but ahead of our subscriptions, and a
    // client that took an early "online" for its cue would publish a
    // command we are not yet subscribed to. The connect publishes
    // everything anyway.
    if (!connected)
        return false;
    return mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 0,
                             retained) == MOSQ_ERR_SUCCESS;
}

void mqtt_connection::on_connect(mosquitto* client, void* self, int rc)
{
    auto& me = *static_cast<mqtt_connection*>(self);
    if (rc != 0) {
        me.refused_code = rc;
        return;
    }
    for (const auto& filter : me.subscriptions)
        mosquitto_subscribe_v5(client, nullptr, filter.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    me.connected = true;
    if (me.events.connected)
        me.events.connected();
}

void mqtt_connection::on_message(mosquitto*, void* self, const mosquitto_message* message)
{
    auto& me = *static_cast<mqtt_connection*>(self);
    if (!me.events.message || !message->topic)
        return;
    const auto* bytes = static_cast<const char*>(message->payload);
    const std::string payload = bytes ? std::string(bytes, static_cast<std::size_t>(message->payloadlen)) : "";
    me.events.message(message->topic, payload, message->retain);
}

void mqtt_connection::on_log(mosquitto*, void* self, int level, const char* text)
{
    // The library's own words for a TLS failure only come this way.
    if ((level & MOSQ_LOG_ERR) && text)
        static_cast<mqtt_connection*>(self)->last_library_error = text;
}

std::string mqtt_connection::failure_words(int rc, int saved_errno)
{
    const auto where = broker();
    if (refused_code != 0)
        return where + ": " + connack_words(refused_code);
    switch (rc) {
    case MOSQ_ERR_TLS:
        return where + ": the TLS handshake failed" +
               (last_library_error.empty() ? std::string() : " (" + last_library_error + ")") +
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
               (last_library_error.empty() ? std::string() : " (" + last_library_error + ")");
    }
}

bool mqtt_connection::wait_before_retry(std::chrono::seconds delay)
{
    std::unique_lock<std::mutex> hold(lock);
    return !stopping_changed.wait_for(hold, delay, [this] { return stopping; });
}

void mqtt_connection::run()
{
    auto delay = first_retry_delay;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock);
            if (stopping)
                break;
        }
        refused_code = 0;
        last_library_error.clear();
        int rc = mosquitto_connect_async(client, settings.host.c_str(), settings.port,
                                         static_cast<int>(keepalive.count()));
        int saved_errno = errno;
        std::chrono::steady_clock::time_point give_up{};
        while (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(client, static_cast<int>(loop_wait.count()), 1);
            saved_errno = errno;
            std::lock_guard<std::mutex> hold(lock);
            if (stopping) {
                // The disconnect ends the loop once the queue is written;
                // a broker that stopped reading must not hold us forever.
                const auto now = std::chrono::steady_clock::now();
                if (give_up == std::chrono::steady_clock::time_point{})
                    give_up = now + stop_grace;
                else if (now > give_up)
                    break;
            }
        }
        const bool was_up = connected.exchange(false);
        {
            std::lock_guard<std::mutex> hold(lock);
            if (stopping)
                break;
        }
        if (was_up)
            delay = first_retry_delay;
        if (events.disconnected)
            events.disconnected(failure_words(rc, saved_errno) + "; trying again in " +
                                std::to_string(delay.count()) + " s");
        if (!wait_before_retry(delay))
            break;
        delay = std::min(delay * 2, longest_retry_delay);
    }
    connected = false;
}

}  // namespace relay::mqtt
