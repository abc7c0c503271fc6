#pragma once
// One board live on the line: the simulated board on a real pseudo-terminal,
// the panel's real session (port, link, logic, 100 ms ticker) and, for the
// tests that want it, the control socket serving that session. The one place
// that knows how a session is connected to a port.

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
    // session is loaded as the window loads it, and not yet connected.
    explicit live_board_rig(std::optional<std::uint8_t> address = std::nullopt)
    {
        own.board = std::make_unique<pty_board>(address);
        own.session = std::make_unique<panel_session>();
        panel().Form_Load();
    }

    pty_board& board() { return *own.board; }
    panel_session& session() { return *own.session; }
    panel_controller& panel() { return own.session->controller(); }
    // The board's pseudo-terminal, e.g. /dev/pts/3.
    std::string port() const { return own.board->slave_path(); }

    // Connects the session to port_text, the board's pseudo-terminal when
    // empty, as the operator does; returns at once. Not while connected.
    void connect(const std::string& port_text = {})
    {
        panel().set_chuankou_num_text(port_text.empty() ? port() : port_text);
        panel().open_comm_Click();
    }
    // The same, then waits for the board's first answer: false when none
    // comes within the limit.
    bool connect_until_answering(const std::string& port_text = {},
                                 std::chrono::milliseconds limit = std::chrono::milliseconds{5000})
    {
        connect(port_text);
        return QTest::qWaitFor([this] { return panel().link_now() == link_condition::answering; },
                               static_cast<int>(limit.count()));
    }
    // As the operator's "disconnect": the port closed, the polling stopped.
    void disconnect()
    {
        if (panel().connected())
            panel().open_comm_Click();
    }

    // The control socket on this session, made at first use.
    control_socket& socket()
    {
        if (!own.socket)
            own.socket = std::make_unique<control_socket>(panel());
        return *own.socket;
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
        const auto log = own.board->received_frames();
        for (std::size_t i = first; i < log.size(); ++i)
            if (log[i].bytes[2] == code_set_relays)
                found.push_back(log[i].bytes);
        return found;
    }

private:
    // Gone in reverse: the socket, then the session, then the board.
    struct {
        std::unique_ptr<pty_board> board;
        std::unique_ptr<panel_session> session;
        std::unique_ptr<control_socket> socket;
    } own;
};

}  // namespace relay::testing
