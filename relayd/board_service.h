#pragma once
// One board as the daemon runs it: its port, link and board core, its
// control socket, and the log lines that tell an operator what the port and
// the board are doing. The daemon's one clock calls tick() for every board.
// A port that cannot be opened at start is tried again every second, as the
// core itself does with a port lost later.

#include "core/board_core.h"
#include "relayd/config_file.h"
#include "relayd/daemon_log.h"
#include "relayd/board_socket.h"
#include "loop/io_loop.h"
#include "serial/serial_link.h"
#include "serial/sysfs_port_catalog.h"
#include "serial/termios_device.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relay::relayd {

class board_service : private board_core::listener {
public:
    // system_mode: the socket goes where the system service keeps them,
    // for the service's group; otherwise into the user's runtime folder.
    board_service(io_loop& loop, board_config config, bool system_mode);
    ~board_service();
    board_service(const board_service&) = delete;
    board_service& operator=(const board_service&) = delete;

    // Serves the control socket; false, with the reason logged, when it
    // cannot be served.
    bool serve_socket();
    // Opens the port and starts polling, or keeps trying every second.
    void start_polling();
    // Stops the ticks and the retries, removes the socket, closes the port.
    void stop();
    // One poll period, while connected.
    void tick();

    const board_config& config() const { return config_; }
    const std::string& socket_path() const { return socket_path_; }
    link_condition link() const { return link_; }
    board_core& core() { return parts.core; }
    // The control socket while it is served, for the web page's clients.
    control_socket* served_socket() { return socket ? &socket->served() : nullptr; }
    // A command's audit line (command_audit.h) under the board's name: info
    // when the board confirmed it, warning when it failed.
    void audit(const std::string& line, bool confirmed) const;

    // The link went between answering, silent and lost.
    void on_link_condition_changed(std::function<void()> heard) { link_heard.push_back(std::move(heard)); }

    // Keeps the board's timed steps in this file from now on, and takes on
    // those an earlier run left there. Empty: kept nowhere.
    void keep_pending_steps_in(const std::string& path);
    // Every timed step's final state goes out now; whether any is still to
    // be proven.
    void settle_pending_steps() { parts.core.settle_pending_now(); }
    bool steps_pending() const { return !parts.core.pending_steps().empty(); }

private:
    void link_changed(link_condition now) override;
    void connection_changed(bool connected) override { ticking = connected; }
    void silent_port_reopened(int times) override;
    void warning(const std::string& text) override;
    void notice(const std::string& text) override;
    void pending_steps_changed() override;

    void open_refused(const open_result& why);
    void try_open();
    void no_first_answer();
    void log(priority level, const std::string& text) const;
    std::string board_words() const;

    board_config config_;
    std::string device;
    std::string usual_socket_path;  // where relayctl looks for the owner of the device
    std::string socket_path_;
    link_condition link_ = link_condition::lost;
    bool system_mode;
    io_loop& loop;
    // In the order they depend on each other: the link on the device and the
    // catalog, the core on the link.
    struct board_parts {
        explicit board_parts(io_loop& loop) : device(loop), link(device, catalog), core(link) {}
        sysfs_port_catalog catalog;
        termios_device device;
        serial_link link;
        board_core core;
    } parts;
    bool ticking = false;
    std::unique_ptr<board_socket> socket;
    loop_timer open_retry;
    // A board that never answers after the port opens never leaves
    // "silent", so its silence is told once the watchdog has run out.
    loop_timer first_answer;
    std::vector<std::function<void()>> link_heard;
    std::string last_open_failure;
    std::string pending_path;
    std::string last_save_failure;
    bool ever_opened = false;
    bool told_silent = false;
    // Silence or a lost port since the last answer: the next is "again".
    bool interrupted = false;
    bool stopping = false;
};

}  // namespace relay::relayd
