// relay-panel: the control panel for a four-channel serial relay board.

#include "app/command_line.h"
#include "app/owner_attachment.h"
#include "app/port_owner.h"
#include "sim/pty_board.h"
#include "ui/main_form.h"
#include "session/event_dispatcher.h"
#include "ui/threaded_panel.h"
#include "loop/qt_io_loop.h"
#include "loop/stop_signals.h"

#include <QApplication>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int exit_usage = 2;

}  // namespace

int main(int argc, char** argv)
{
    // Answered before any window system is touched, so they work over ssh.
    const auto line = relay::read_panel_command_line(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.what) {
    case relay::panel_command_line::action::help:
        std::fputs(relay::panel_usage, stdout);
        return 0;
    case relay::panel_command_line::action::version:
        std::printf("relay-panel %s\n", RELAY_PANEL_VERSION);
        return 0;
    case relay::panel_command_line::action::usage_error:
        std::fprintf(stderr, "relay-panel: %s\n\n%s", line.error.c_str(), relay::panel_usage);
        return exit_usage;
    case relay::panel_command_line::action::run:
        break;
    }

    // Before Qt's, the session's and the simulated board's threads exist,
    // so that they inherit the mask and the signals reach the loop.
    relay::block_stop_signals();
    relay::use_qt_event_dispatcher();
    QApplication app(argc, argv);
    QApplication::setApplicationName("relay-panel");
    QApplication::setApplicationVersion(RELAY_PANEL_VERSION);

    std::unique_ptr<relay::pty_board> board;
    if (line.simulate)
        board = std::make_unique<relay::pty_board>();
    // The poll runs on a thread of its own, and with it what serves the
    // board to others (while connected, scripts and relayctl reach the board
    // through the panel) and the way to a board another program owns.
    struct board_sharing {
        explicit board_sharing(relay::board_core& core) : served(core) {}
        relay::port_owner served;
        relay::owner_attachment attached;
    };
    relay::owner_attachment* attachment = nullptr;
    relay::threaded_panel panel([&board, &attachment](relay::panel_session& s) -> std::shared_ptr<void> {
        if (board)
            s.catalog().add_leading_port({board->slave_path(), "simulated relay board"});
        auto sharing = std::make_shared<board_sharing>(s.core());
        attachment = &sharing->attached;
        return sharing;
    });
    auto& session = panel.session;
    session.run([&panel, attachment] { panel.logic().set_board_owner(attachment); });

    relay::main_form window(panel.logic(), session.catalog(), &session);
    relay::qt_io_loop main_loop;
    std::unique_ptr<relay::stop_signals> signals_in;
    try {
        signals_in = std::make_unique<relay::stop_signals>(main_loop, [&session, &app](const std::string&) {
            // As "disconnect" does: the port closed and, with it, the socket
            // scripts reach the board through removed.
            session.run([&session] { session.session().core().disconnect(); });
            app.quit();
        });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "relay-panel: SIGTERM and SIGINT will not close the panel cleanly: %s\n", e.what());
    }

    window.show();
    return app.exec();
}
