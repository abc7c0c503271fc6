#pragma once
// relayd's web page: one page at /, its login, and the WebSocket at /ws
// that carries the control sockets' requests, replies and watch events
// (page_client.h). HTTP is libmicrohttpd's, run from relayd's own loop
// through its epoll descriptor; nothing here blocks, sleeps or starts a
// thread. Nothing switches a relay on a GET: only a WebSocket message does.
//
// Bounded: at most max_connections at once (an upgraded WebSocket among
// them), max_pages WebSockets, max_header_bytes of request head, a login
// body of max_login_bytes, and an HTTP connection idle for idle_timeout is
// closed.

#include "loop/io_loop.h"
#include "web/page_client.h"
#include "web/web_settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relay::web {

constexpr unsigned max_connections = 256;
constexpr std::size_t max_pages = 32;
constexpr std::size_t max_header_bytes = 16 * 1024;
constexpr std::size_t max_login_bytes = 1024;
constexpr std::chrono::seconds idle_timeout{10};

enum class web_log_level { info, warning };
using web_log_function = std::function<void(web_log_level, const std::string& line)>;

class web_server {
public:
    // The boards' sockets outlive the server.
    web_server(io_loop& loop, web_settings settings, std::vector<served_board> boards, web_log_function log);
    ~web_server();
    web_server(const web_server&) = delete;
    web_server& operator=(const web_server&) = delete;

    // Listens; empty when it does, else one line saying why not.
    std::string start();
    // Closes the pages and stops listening.
    void stop();
    // "http://127.0.0.1:8080/", with the port bound.
    std::string url() const;
    std::size_t page_count() const;

private:
    struct impl;
    std::unique_ptr<impl> d;
};

}  // namespace relay::web
