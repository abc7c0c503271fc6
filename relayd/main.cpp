// relayd: owns the serial ports of relay boards, polls them as the panel
// does, and shares each through a control socket.

#include "relayd/board_daemon.h"
#include "relayd/config_file.h"
#include "relayd/daemon_log.h"
#include "relayd/http_choice.h"
#include "relayd/mqtt_boards.h"
#include "relayd/mqtt_choice.h"
#include "relayd/open_files.h"
#include "relayd/options.h"
#include "relayd/service_manager.h"
#include "relayd/state_folder.h"
#include "relayd/usage.h"
#include "serial/sysfs_port_catalog.h"
#include "loop/epoll_loop.h"
#include "loop/stop_signals.h"
#include "text/shown_text.h"

#include "mqtt/mqtt_settings.h"
#include "mqtt/relay_mqtt.h"
#include "web/certificate_check.h"
#include "web/web_server.h"

#include <fstream>
#include <sstream>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int exit_socket = 1;
constexpr int exit_usage = 2;

// Systemd sets $RUNTIME_DIRECTORY for a unit with RuntimeDirectory=.
bool runs_as_system_service(const relay::relayd::options& opts)
{
    const char* runtime = std::getenv("RUNTIME_DIRECTORY");
    return opts.system || (runtime && *runtime);
}

// A few names say which boards these are; a file of thousands must not
// make a line of thousands.
std::string board_names(const std::vector<relay::relayd::board_config>& boards)
{
    constexpr std::size_t all_named_up_to = 4;
    constexpr std::size_t named_of_more = 3;
    const std::size_t named = boards.size() <= all_named_up_to ? boards.size() : named_of_more;
    std::string names;
    for (std::size_t i = 0; i < named; ++i)
        names += (i == 0 ? "" : ", ") + boards[i].name;
    if (named < boards.size())
        names += " and " + std::to_string(boards.size() - named) + " more";
    return names;
}

// Everything the MQTT library says is a failure or a refused command,
// except that a board's connection is up.
void mqtt_log(const std::string& line)
{
    using relay::relayd::priority;
    const bool up = (line.rfind("MQTT: board ", 0) == 0 && line.find(" connected to ") != std::string::npos) ||
                    line.rfind("MQTT: removed ", 0) == 0;
    relay::relayd::log_line(up ? priority::info : priority::warning, line);
}

void web_log(relay::web::web_log_level level, const std::string& line)
{
    using relay::relayd::priority;
    relay::relayd::log_line(level == relay::web::web_log_level::info ? priority::info : priority::warning, line);
}

// The whole of a certificate or key file; empty with why set when it cannot
// be read.
std::string whole_file(const std::string& path, const char* what, std::string& why)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || text.str().empty())
        why = std::string("cannot read the web page's ") + what + " " + relay::shown_text(path);
    return text.str();
}

relay::web::web_settings read_web_settings(const relay::relayd::http_choice& http, std::string& why)
{
    relay::web::web_settings settings;
    settings.address = http.address;
    settings.port = http.port;
    if (!http.password_file.empty()) {
        // The same rule as MQTT's: mode 600, the first line is the password.
        const auto read = relay::mqtt::read_password_file(http.password_file);
        if (!read.password) {
            why = read.error + " (password_file in [http])";
            return settings;
        }
        settings.password = *read.password;
    }
    if (!http.cert_file.empty()) {
        settings.cert_pem = whole_file(http.cert_file, "cert_file", why);
        if (why.empty())
            settings.key_pem = whole_file(http.key_file, "key_file", why);
        if (why.empty())
            why = relay::web::certificate_refusal(settings.cert_pem, settings.key_pem);
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace relay::relayd;

    // A log nobody reads any more (stderr a closed pipe) must not end the
    // boards: the write fails with EPIPE and the line is dropped.
    std::signal(SIGPIPE, SIG_IGN);

    const auto parsed = parse_args(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.what) {
    case parse_result::action::help:
        std::fputs(help_text().c_str(), stdout);
        return 0;
    case parse_result::action::version:
        std::printf("%s\n", version_text().c_str());
        return 0;
    case parse_result::action::usage_error:
        std::fputs(usage_error_text(parsed.error).c_str(), stderr);
        return exit_usage;
    case parse_result::action::run:
        break;
    }
    const auto& opts = parsed.opts;

    std::vector<board_config> boards;
    std::map<std::string, std::string> mqtt_section;
    std::map<std::string, std::string> http_section;
    if (opts.config.empty()) {
        boards.push_back({"board", opts.port, opts.address, opts.socket});
    } else {
        const relay::sysfs_port_catalog catalog;
        const auto config = read_config_file(opts.config, catalog);
        if (!config.ok) {
            std::fprintf(stderr, "relayd: %s\n", config.error.c_str());
            return exit_usage;
        }
        boards = config.config.boards;
        mqtt_section = config.config.mqtt;
        http_section = config.config.http;
    }
    const auto mqtt = choose_mqtt(opts.mqtt_url, mqtt_section, opts.config);
    if (!mqtt.error.empty()) {
        std::fprintf(stderr, "relayd: %s\n", mqtt.error.c_str());
        return exit_usage;
    }

    const auto http = choose_http(opts.http, http_section, opts.config);
    if (!http.error.empty()) {
        std::fprintf(stderr, "relayd: %s\n", http.error.c_str());
        return exit_usage;
    }
    relay::web::web_settings web_settings;
    if (http.wanted) {
        std::string refusal;
        web_settings = read_web_settings(http, refusal);
        if (!refusal.empty()) {
            std::fprintf(stderr, "relayd: %s\n", refusal.c_str());
            return exit_usage;
        }
    }

    // Counted before anything opens: a board that found no descriptor left
    // would end relayd with the boards before it already serving.
    const board_needs needs{boards.size(), mqtt.wanted, opts.simulate, http.wanted};
    if (const auto refusal = open_files_refusal(needs, raise_open_file_limit()); !refusal.empty()) {
        const std::string where = opts.config.empty() ? "" : relay::shown_text(opts.config) + ": ";
        std::fprintf(stderr, "relayd: %s%s\n", where.c_str(), refusal.c_str());
        return exit_usage;
    }

    // Before the simulated boards' threads and the MQTT host lookups' exist,
    // so they inherit the mask.
    relay::block_stop_signals();

    try {
        relay::epoll_loop loop;
        service_manager manager(loop);
        board_daemon daemon(loop, boards, runs_as_system_service(opts), opts.simulate);

        // Made after the daemon, so gone before the boards it watches. Its
        // settings are checked before any port is opened: a bad one is a
        // mistake in the configuration, like a bad key in the file.
        std::unique_ptr<mqtt_boards> on_mqtt;
        if (mqtt.wanted) {
            auto started = relay::mqtt::start_mqtt(loop, mqtt.url, mqtt.keys, mqtt_log);
            if (!started.bridge) {
                const std::string where =
                    opts.config.empty() ? "" : " (in [mqtt] of " + relay::shown_text(opts.config) + ")";
                std::fprintf(stderr, "relayd: %s%s\n", started.error.c_str(), where.c_str());
                return exit_usage;
            }
            on_mqtt = std::make_unique<mqtt_boards>(std::move(started.bridge));
            std::set<std::string> names;
            for (const auto& board : boards)
                names.insert(board.name);
            on_mqtt->record_discovery(
                discovery_record_file(state_folder(state_environment_now(), runs_as_system_service(opts)), opts.config,
                                      opts.port, opts.address),
                names);
        }

        log_line(priority::info, version_text() + " started: " + std::to_string(boards.size()) +
                                     (boards.size() == 1 ? " board (" : " boards (") + board_names(boards) + ")");
        const auto folder = state_folder(state_environment_now(), runs_as_system_service(opts));
        for (const auto& board : daemon.boards())
            board->keep_pending_steps_in(
                pending_steps_file(folder, opts.config, opts.port, opts.address, board->config().name));
        if (!daemon.start()) {
            manager.stopping("a board could not be served");
            return exit_socket;
        }
        if (on_mqtt)
            for (const auto& board : daemon.boards())
                on_mqtt->serve(*board, opts.config.empty() ? std::string() : board->config().name);
        // Made after the daemon, so gone before the sockets its pages use.
        std::unique_ptr<relay::web::web_server> web;
        if (http.wanted) {
            std::vector<relay::web::served_board> served;
            for (const auto& board : daemon.boards())
                served.push_back({board->config().name, board->served_socket(), board->config().pulse_buttons});
            web = std::make_unique<relay::web::web_server>(loop, web_settings, std::move(served), web_log);
            if (const auto why = web->start(); !why.empty()) {
                log_line(priority::error, why);
                daemon.stop();
                manager.stopping("the web page could not be served");
                return exit_socket;
            }
            log_line(priority::info, "web page at " + web->url() + (web_settings.password.empty() ? "" : " (login)"));
        }
        manager.ready(daemon.status_line());
        daemon.on_status_changed([&] { manager.status(daemon.status_line()); });
        bool stopping = false;
        const auto stop_now = [&] {
            // "offline" on the broker while the boards are still served.
            if (on_mqtt)
                on_mqtt->stop();
            if (web)
                web->stop();
            daemon.stop();
            loop.quit();
        };
        relay::stop_signals signals_in(loop, [&](const std::string& name) {
            // A second signal does not wait for the timed steps.
            if (stopping) {
                stop_now();
                return;
            }
            stopping = true;
            log_line(priority::info, "stopping on " + name);
            manager.stopping("stopping");
            // Nothing timed is left half done: each pending step's final
            // state goes out before the boards are let go.
            daemon.settle_then(stop_now);
        });
        loop.run();
        log_line(priority::info, "stopped");
        return EXIT_SUCCESS;
    } catch (const std::exception& e) {
        log_line(priority::error, std::string("cannot start: ") + e.what());
        return EXIT_FAILURE;
    }
}
