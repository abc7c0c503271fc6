#include "web/web_server.h"

#include "web/assets.h"
#include "web/handshake.h"
#include "web/login_guard.h"
#include "web/websocket_peer.h"

#include <microhttpd.h>
#include <wslay/wslay.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace relay::web {
namespace {

constexpr const char* session_cookie = "relay_session";
constexpr const char* note_marker = "<!--note-->";

// Only the page itself: no script, style or connection from anywhere else,
// no inline script, and no framing by another page.
constexpr const char* content_policy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                                       "connect-src 'self'; img-src 'self'; form-action 'self'; "
                                       "base-uri 'none'; frame-ancestors 'none'";

std::string address_words(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (!address)
        return text;
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

std::string client_address(MHD_Connection* connection)
{
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return address_words(info ? info->client_addr : nullptr);
}

std::string header(MHD_Connection* connection, const char* name)
{
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value ? value : "";
}

// One login form's reading; lives from the request's first call to its end.
struct login_request {
    ~login_request()
    {
        if (post)
            MHD_destroy_post_processor(post);
    }
    MHD_PostProcessor* post = nullptr;
    std::string password;
    std::size_t body_bytes = 0;
    bool too_big = false;
    // The answer to a wrong password, given when the delay is over.
    bool delayed = false;
    io_loop::timer_id delay_timer = 0;
};

MHD_Result take_field(void* cls, MHD_ValueKind, const char* key, const char*, const char*, const char*,
                      const char* data, uint64_t, size_t size)
{
    auto* login = static_cast<login_request*>(cls);
    if (std::strcmp(key, "password") != 0)
        return MHD_YES;
    if (login->password.size() + size > max_login_bytes) {
        login->too_big = true;
        return MHD_NO;
    }
    login->password.append(data, size);
    return MHD_YES;
}

}  // namespace

struct web_server::impl {
    struct page {
        MHD_UpgradeResponseHandle* handle = nullptr;
        std::unique_ptr<websocket_peer> peer;
        std::unique_ptr<page_client> client;
        // The session it was opened with: its end ends the page.
        std::string session;
    };

    impl(io_loop& loop, web_settings settings, std::vector<served_board> boards, web_log_function log)
        : loop(loop), settings(std::move(settings)), boards(std::move(boards)), log(std::move(log))
    {
    }

    static MHD_Result answer_cb(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char*, const char* upload_data, size_t* upload_data_size, void** state)
    {
        return static_cast<impl*>(cls)->answer(connection, url, method, upload_data, upload_data_size, state);
    }
    static void completed_cb(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
    {
        delete static_cast<login_request*>(*state);
        *state = nullptr;
    }
    static void upgraded_cb(void* cls, MHD_Connection* connection, void*, const char* extra, size_t extra_size,
                            MHD_socket sock, MHD_UpgradeResponseHandle* handle)
    {
        static_cast<impl*>(cls)->open_page(connection, std::string(extra, extra_size), sock, handle);
    }
    static void logger_cb(void* cls, const char* format, va_list args)
    {
        auto* self = static_cast<impl*>(cls);
        if (!self->starting)
            return;  // a hostile client's mistakes are not worth a log line each
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        self->start_error = text;
        while (!self->start_error.empty() && self->start_error.back() == '\n')
            self->start_error.pop_back();
    }

    MHD_Result answer(MHD_Connection* connection, const std::string& url, const std::string& method,
                      const char* upload_data, size_t* upload_data_size, void** state);
    MHD_Result answer_login(MHD_Connection* connection, login_request& login, const char* upload_data,
                            size_t* upload_data_size);
    MHD_Result answer_websocket(MHD_Connection* connection);
    MHD_Result send(MHD_Connection* connection, unsigned status, std::string_view type, std::string_view body,
                    const std::vector<std::pair<std::string, std::string>>& extra = {});
    MHD_Result send_asset(MHD_Connection* connection, unsigned status, const char* name,
                          const std::string& note = {});
    bool has_session(MHD_Connection* connection);
    std::string cookie(const std::string& value, bool ending) const;
    void open_page(MHD_Connection* connection, const std::string& extra, int sock, MHD_UpgradeResponseHandle* handle);
    void retire_page(std::uint64_t id);
    void close_page(page& p);
    void end_session(const std::string& token);
    void run();
    void run_soon() { timer.start_once(std::chrono::nanoseconds{0}); }
    void schedule();

    io_loop& loop;
    web_settings settings;
    std::vector<served_board> boards;
    web_log_function log;
    MHD_Daemon* daemon = nullptr;
    fd_watch ready;
    loop_timer timer{loop, [this] { run(); }};
    session_book sessions;
    login_throttle throttle;
    std::map<std::uint64_t, page> pages;
    std::uint64_t next_page = 1;
    // Connections waiting out a wrong password's delay, each with its timer.
    std::map<MHD_Connection*, io_loop::timer_id> suspended;
    std::uint16_t port = 0;
    bool starting = false;
    std::string start_error;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

MHD_Result web_server::impl::send(MHD_Connection* connection, unsigned status, std::string_view type,
                                  std::string_view body, const std::vector<std::pair<std::string, std::string>>& extra)
{
    auto* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, "Content-Type", std::string(type).c_str());
    MHD_add_response_header(response, "Content-Security-Policy", content_policy);
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    for (const auto& [name, value] : extra)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    const auto result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result web_server::impl::send_asset(MHD_Connection* connection, unsigned status, const char* name,
                                        const std::string& note)
{
    const auto* a = find_asset(name);
    if (!a)
        return send(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "text/plain", "missing asset\n");
    std::string body(a->body);
    if (const auto at = body.find(note_marker); at != std::string::npos)
        body.replace(at, std::strlen(note_marker), note);
    std::vector<std::pair<std::string, std::string>> extra;
    if (status == MHD_HTTP_UNAUTHORIZED)
        extra.emplace_back("WWW-Authenticate", "FormBased");
    return send(connection, status, a->type, body, extra);
}

bool web_server::impl::has_session(MHD_Connection* connection)
{
    if (settings.password.empty())
        return true;
    const char* token = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, session_cookie);
    return token && sessions.is_valid(token, std::chrono::steady_clock::now());
}

std::string web_server::impl::cookie(const std::string& value, bool ending) const
{
    std::string text = std::string(session_cookie) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict";
    if (settings.is_https())
        text += "; Secure";
    if (ending)
        text += "; Max-Age=0";
    return text;
}

MHD_Result web_server::impl::answer(MHD_Connection* connection, const std::string& url, const std::string& method,
                                    const char* upload_data, size_t* upload_data_size, void** state)
{
    if (*state)
        return answer_login(connection, *static_cast<login_request*>(*state), upload_data, upload_data_size);
    // Without a password only this machine can reach the page; a name that
    // merely resolves here is another site's page, rebound onto loopback.
    if (settings.password.empty() &&
        !host_is_loopback_name(header(connection, "Host"), settings.address, port, settings.is_https()))
        return send(connection, MHD_HTTP_MISDIRECTED_REQUEST, "text/plain; charset=utf-8",
                    "Without a password the page answers only to localhost, 127.0.0.1 or [::1] with its port; "
                    "another host name needs a password_file.\n");

    const bool reading = method == "GET" || method == "HEAD";
    if (!reading && method != "POST")
        return send(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain; charset=utf-8", "Use GET or POST.\n",
                    {{"Allow", "GET, HEAD, POST"}});
    const bool login_wanted = !settings.password.empty();

    if (url == "/login" && method == "POST") {
        if (!login_wanted)
            return send(connection, MHD_HTTP_SEE_OTHER, "text/plain; charset=utf-8", "No login here.\n",
                        {{"Location", "/"}});
        const auto length = header(connection, "Content-Length");
        const bool digits = length.find_first_not_of("0123456789") == std::string::npos;
        if (!length.empty() && (!digits || length.size() > 6 || std::stoul(length) > max_login_bytes))
            return send(connection, MHD_HTTP_CONTENT_TOO_LARGE, "text/plain; charset=utf-8",
                        "The form is too large.\n");
        auto login = std::make_unique<login_request>();
        login->post = MHD_create_post_processor(connection, 512, take_field, login.get());
        if (!login->post)
            return send(connection, MHD_HTTP_UNSUPPORTED_MEDIA_TYPE, "text/plain; charset=utf-8",
                        "Send the login form as application/x-www-form-urlencoded.\n");
        *state = login.release();
        return MHD_YES;
    }
    if (method == "POST" && url == "/logout") {
        if (const char* token = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, session_cookie))
            end_session(token);
        return send(connection, MHD_HTTP_SEE_OTHER, "text/plain; charset=utf-8", "Logged out.\n",
                    {{"Location", "/"}, {"Set-Cookie", cookie("", true)}});
    }
    if (method == "POST")
        return send(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain; charset=utf-8",
                    "Only the login form is posted; the relays are switched over the WebSocket.\n",
                    {{"Allow", "GET, HEAD"}});

    // The login form and what it needs are open to all.
    if (url == "/style.css")
        return send_asset(connection, MHD_HTTP_OK, "style.css");
    if (url == "/login")
        return login_wanted ? send_asset(connection, MHD_HTTP_OK, "login.html")
                            : send(connection, MHD_HTTP_SEE_OTHER, "text/plain; charset=utf-8", "No login here.\n",
                                   {{"Location", "/"}});
    if (url == "/ws")
        return answer_websocket(connection);
    if (!has_session(connection)) {
        if (url == "/")
            return send_asset(connection, MHD_HTTP_UNAUTHORIZED, "login.html");
        return send(connection, MHD_HTTP_UNAUTHORIZED, "text/plain; charset=utf-8", "Log in first.\n",
                    {{"WWW-Authenticate", "FormBased"}});
    }
    if (url == "/")
        return send_asset(connection, MHD_HTTP_OK, "page.html");
    if (url == "/page.js")
        return send_asset(connection, MHD_HTTP_OK, url.c_str() + 1);
    return send(connection, MHD_HTTP_NOT_FOUND, "text/plain; charset=utf-8", "Nothing here.\n");
}

MHD_Result web_server::impl::answer_login(MHD_Connection* connection, login_request& login, const char* upload_data,
                                          size_t* upload_data_size)
{
    if (login.delayed)
        return send_asset(connection, MHD_HTTP_UNAUTHORIZED, "login.html",
                          "<p class=\"note\" role=\"alert\">Wrong password.</p>");
    if (*upload_data_size != 0) {
        login.body_bytes += *upload_data_size;
        if (login.body_bytes > max_login_bytes)
            login.too_big = true;
        if (!login.too_big && MHD_post_process(login.post, upload_data, *upload_data_size) != MHD_YES)
            login.too_big = login.too_big || login.password.size() >= max_login_bytes;
        *upload_data_size = 0;
        return MHD_YES;
    }
    if (login.too_big)
        return send(connection, MHD_HTTP_CONTENT_TOO_LARGE, "text/plain; charset=utf-8", "The form is too large.\n");
    const auto address = client_address(connection);
    const auto now = std::chrono::steady_clock::now();
    if (throttle.is_waiting(address, now))
        return send_asset(connection, MHD_HTTP_TOO_MANY_REQUESTS, "login.html",
                          "<p class=\"note\" role=\"alert\">Too many wrong passwords: wait a few seconds.</p>");
    if (same_secret(login.password, settings.password)) {
        throttle.succeeded(address);
        const auto token = sessions.open(now);
        log(web_log_level::info, "web page: logged in from " + address);
        return send(connection, MHD_HTTP_SEE_OTHER, "text/plain; charset=utf-8", "Logged in.\n",
                    {{"Location", "/"}, {"Set-Cookie", cookie(token, false)}});
    }
    // Answered when the delay is over, from the loop's timer: the loop goes
    // on serving everyone else meanwhile.
    const auto delay = throttle.failed(address, now);
    log(web_log_level::warning, "web page: wrong password from " + address + " (" +
                                    std::to_string(throttle.failures(address)) + " in a row); answered after " +
                                    std::to_string(delay.count()) + " ms");
    login.delayed = true;
    MHD_suspend_connection(connection);
    suspended[connection] = loop.add_timer(delay, std::chrono::nanoseconds{0}, [this, connection] {
        suspended.erase(connection);
        MHD_resume_connection(connection);
        run_soon();
    });
    return MHD_YES;
}

MHD_Result web_server::impl::answer_websocket(MHD_Connection* connection)
{
    const auto origin = header(connection, "Origin");
    if (!origin_matches_host(origin, header(connection, "Host"), settings.is_https()))
        return send(connection, MHD_HTTP_FORBIDDEN, "text/plain; charset=utf-8",
                    "The WebSocket is only for the page's own origin.\n");
    if (!has_session(connection))
        return send(connection, MHD_HTTP_UNAUTHORIZED, "text/plain; charset=utf-8", "Log in first.\n",
                    {{"WWW-Authenticate", "FormBased"}});
    const auto accept = websocket_accept(header(connection, "Sec-WebSocket-Key"));
    if (!header_has_token(header(connection, "Upgrade"), "websocket") ||
        !header_has_token(header(connection, "Connection"), "upgrade") ||
        header(connection, "Sec-WebSocket-Version") != "13" || !accept)
        return send(connection, MHD_HTTP_BAD_REQUEST, "text/plain; charset=utf-8",
                    "This is the page's WebSocket (version 13).\n", {{"Sec-WebSocket-Version", "13"}});
    if (pages.size() >= max_pages)
        return send(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8",
                    "Too many pages are open; try again later.\n", {{"Retry-After", "5"}});
    auto* response = MHD_create_response_for_upgrade(upgraded_cb, this);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, "Upgrade", "websocket");
    MHD_add_response_header(response, "Sec-WebSocket-Accept", accept->c_str());
    const auto result = MHD_queue_response(connection, MHD_HTTP_SWITCHING_PROTOCOLS, response);
    MHD_destroy_response(response);
    return result;
}

void web_server::impl::open_page(MHD_Connection* connection, const std::string& extra, int sock,
                                 MHD_UpgradeResponseHandle* handle)
{
    const auto id = next_page++;
    auto& p = pages[id];
    p.handle = handle;
    p.peer = std::make_unique<websocket_peer>(loop, sock, extra);
    auto* peer = p.peer.get();
    p.client = std::make_unique<page_client>(boards, "web page from " + client_address(connection),
                                             [peer](const std::string& message) { return peer->send_text(message); });
    if (const char* token = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, session_cookie))
        p.session = token;
    auto* client = p.client.get();
    // A session that has ended (logged out, too old, or the oldest put out
    // by a newer one) switches nothing more.
    peer->on_message = [this, client, peer, session = p.session](const std::string& text) {
        if (!settings.password.empty() && !sessions.is_valid(session, std::chrono::steady_clock::now())) {
            peer->close(WSLAY_CODE_POLICY_VIOLATION, "logged out");
            return;
        }
        client->heard(text);
    };
    peer->on_ended = [this, id] { retire_page(id); };
    if (!peer->is_open()) {
        retire_page(id);
        return;
    }
    peer->send_text(client->boards_event());
}

void web_server::impl::close_page(page& p)
{
    p.client.reset();
    p.peer.reset();
    if (p.handle)
        MHD_upgrade_action(p.handle, MHD_UPGRADE_ACTION_CLOSE);
    p.handle = nullptr;
}

void web_server::impl::end_session(const std::string& token)
{
    sessions.close(token);
    for (auto& [id, p] : pages)
        if (p.peer && !p.session.empty() && same_secret(p.session, token))
            p.peer->close(WSLAY_CODE_POLICY_VIOLATION, "logged out");
}

// The peer is still on the stack below: closed on a later turn.
void web_server::impl::retire_page(std::uint64_t id)
{
    loop.post([this, id, alive = std::weak_ptr<bool>(alive)] {
        if (!alive.lock())
            return;
        const auto it = pages.find(id);
        if (it == pages.end())
            return;
        close_page(it->second);
        pages.erase(it);
        run_soon();
    });
}

void web_server::impl::run()
{
    if (!daemon)
        return;
    MHD_run(daemon);
    schedule();
}

void web_server::impl::schedule()
{
    MHD_UNSIGNED_LONG_LONG wait_ms = 0;
    if (MHD_get_timeout(daemon, &wait_ms) == MHD_YES)
        timer.start_once(std::chrono::milliseconds(wait_ms));
    else
        timer.stop();
}

web_server::web_server(io_loop& loop, web_settings settings, std::vector<served_board> boards, web_log_function log)
    : d(std::make_unique<impl>(loop, std::move(settings), std::move(boards), std::move(log)))
{
}

web_server::~web_server() { stop(); }

std::string web_server::start()
{
    sockaddr_storage address{};
    socklen_t size = 0;
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_UPGRADE | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, d->settings.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(d->settings.port);
        size = sizeof *v4;
    } else if (::inet_pton(AF_INET6, d->settings.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(d->settings.port);
        size = sizeof *v6;
        flags |= MHD_USE_IPv6;
    } else {
        return "the web page's address " + d->settings.address + " is not a numeric IPv4 or IPv6 address";
    }
    (void)size;
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&impl::logger_cb), d.get()},
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, max_connections, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(idle_timeout.count()), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(max_header_bytes), nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&impl::completed_cb), nullptr},
    };
    if (d->settings.is_https()) {
        flags |= MHD_USE_TLS;
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(d->settings.cert_pem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(d->settings.key_pem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});

    d->starting = true;
    d->start_error.clear();
    d->daemon = MHD_start_daemon(flags, d->settings.port, nullptr, nullptr, &impl::answer_cb, d.get(),
                                 MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    d->starting = false;
    if (!d->daemon) {
        const auto why = d->start_error.empty() ? std::string("it cannot listen there") : d->start_error;
        return "cannot serve the web page at " + d->settings.address + ":" + std::to_string(d->settings.port) +
               ": " + why;
    }
    const auto* epoll_info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_EPOLL_FD);
    const auto* port_info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_BIND_PORT);
    d->port = port_info ? port_info->port : d->settings.port;
    d->ready = fd_watch(d->loop, epoll_info->epoll_fd, io_loop::direction::read, [this] { d->run(); });
    d->run();
    return {};
}

void web_server::stop()
{
    if (!d->daemon)
        return;
    for (auto& [id, p] : d->pages)
        d->close_page(p);
    d->pages.clear();
    for (const auto& [connection, timer] : d->suspended) {
        d->loop.remove_timer(timer);
        MHD_resume_connection(connection);
    }
    d->suspended.clear();
    d->ready.reset();
    d->timer.stop();
    MHD_stop_daemon(d->daemon);
    d->daemon = nullptr;
}

std::string web_server::url() const
{
    const auto& a = d->settings.address;
    const auto host = a.find(':') != std::string::npos ? "[" + a + "]" : a;
    return std::string(d->settings.is_https() ? "https://" : "http://") + host + ":" + std::to_string(d->port) + "/";
}

std::size_t web_server::page_count() const { return d->pages.size(); }

}  // namespace relay::web
