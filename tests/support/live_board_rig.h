#pragma once
// One board live on the line: the simulated board on a real pseudo-terminal,
// the real session (port, link, board core, 100 ms ticker) and, for the
// tests that want it, the control socket serving that session on the test
// thread's Qt loop, as the window serves it. The one place
// that knows how a session is connected to a port.

#include "loop/qt_io_loop.h"
#include "service/control_socket.h"
#include "session/panel_session.h"
#include "sim/pty_board.h"

#include <QTest>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace relay::testing {

class live_board_rig {
public:
    // The board answers at address (the simulator's own when none). The
    // session is not yet connected.
    explicit live_board_rig(std::optional<std::uint8_t> address = std::nullopt)
    {
        board_ = std::make_unique<pty_board>(address);
        session_ = std::make_unique<panel_session>();
    }

    pty_board& board() { return *board_; }
    panel_session& session() { return *session_; }
    board_core& core() { return session_->core(); }
    // The board's pseudo-terminal, e.g. /dev/pts/3.
    std::string port() const { return board_->slave_path(); }

    // Connects the session to port_text, the board's pseudo-terminal when
    // empty; returns at once.
    open_result connect(const std::string& port_text = {})
    {
        return core().connect(port_text.empty() ? port() : port_text);
    }
    // The same, then waits for the board's first answer: false when none
    // comes within the limit.
    bool connect_until_answering(const std::string& port_text = {},
                                 std::chrono::milliseconds limit = std::chrono::milliseconds{5000})
    {
        if (!connect(port_text).ok)
            return false;
        return QTest::qWaitFor([this] { return core().link_now() == link_condition::answering; },
                               static_cast<int>(limit.count()));
    }
    // The port closed, the polling stopped.
    void disconnect() { core().disconnect(); }

    // What the socket runs on: the test thread's Qt loop.
    io_loop& loop() { return loop_; }
    // The control socket on this session, made at first use.
    control_socket& socket()
    {
        if (!socket_)
            socket_ = std::make_unique<control_socket>(loop_, core());
        return *socket_;
    }
    // Serves the session at path; see control_socket::listen.
    listen_result serve(const std::string& path, socket_access access = socket_access::owner_only)
    {
        return socket().listen(path, access);
    }

    // The set-relays frames the board has received from the first'th on.
    std::vector<frame> set_frames_since(std::size_t first) const
    {
        std::vector<frame> found;
        const auto log = board_->received_frames();
        for (std::size_t i = first; i < log.size(); ++i)
            if (log[i].bytes[2] == code_set_relays)
                found.push_back(log[i].bytes);
        return found;
    }

private:
    // Gone in reverse: the socket, then its loop, the session, the board.
    std::unique_ptr<pty_board> board_;
    std::unique_ptr<panel_session> session_;
    qt_io_loop loop_;
    std::unique_ptr<control_socket> socket_;
};

}  // namespace relay::testing
