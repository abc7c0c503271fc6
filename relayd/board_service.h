#pragma once
// One board as the daemon runs it: its own session (port, link, board
// core and 100 ms tick), its control socket, and the log lines that tell
// an operator what the port and the board are doing. A port that cannot be
// opened at start is tried again every second, as the core itself does
// with a port lost later.

#include "core/board_core.h"
#include "relayd/config_file.h"
#include "relayd/daemon_log.h"
#include "relayd/board_socket.h"
#include "session/panel_session.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

namespace relay::relayd {

class board_service : public QObject, private board_core::listener {
    Q_OBJECT
public:
    // system_mode: the socket goes where the system service keeps them,
    // for the service's group; otherwise into the user's runtime folder.
    // The control socket is served on loop.
    board_service(io_loop& loop, board_config config, bool system_mode, QObject* parent = nullptr);
    ~board_service() override;

    // Serves the control socket; false, with the reason logged, when it
    // cannot be served.
    bool serve_socket();
    // Opens the port and starts polling, or keeps trying every second.
    void start_polling();
    // Stops the ticks and the retries, removes the socket, closes the port.
    void stop();

    const board_config& config() const { return config_; }
    const std::string& socket_path() const { return socket_path_; }
    link_condition link() const { return link_; }
    board_core& core() { return session.core(); }
    // A command's audit line (command_audit.h) under the board's name: info
    // when the board confirmed it, warning when it failed.
    void audit(const std::string& line, bool confirmed) const;

signals:
    // The link went between answering, silent and lost.
    void link_condition_changed();
    // The port opened at start or, after failing, at a later try.
    void port_opened();

private:
    void link_changed(link_condition now) override;
    void silent_port_reopened(int times) override;

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
    panel_session session;
    std::unique_ptr<board_socket> socket;
    QTimer open_retry;
    // A board that never answers after the port opens never leaves
    // "silent", so its silence is told once the watchdog has run out.
    QTimer first_answer;
    std::string last_open_failure;
    bool ever_opened = false;
    bool told_silent = false;
    // Silence or a lost port since the last answer: the next is "again".
    bool interrupted = false;
    bool stopping = false;
};

}  // namespace relay::relayd
