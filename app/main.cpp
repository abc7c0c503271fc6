// relay-panel: the control panel for a four-channel serial relay board.

#include "sim/pty_board.h"
#include "ui/main_form.h"
#include "service/port_owner.h"
#include "session/event_dispatcher.h"
#include "session/session_thread.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char* const usage =
    "Usage: relay-panel [--simulate]\n"
    "\n"
    "Control panel for a four-channel relay board on a serial port. Pick the\n"
    "port (1 is the first serial port, USB adapters first; a device name such\n"
    "as ttyUSB0 or /dev/pts/3 works too) and the board address, press\n"
    "\"connect\", and switch the relays. While connected the panel serves the\n"
    "port's control socket, so relayctl and scripts can share the board.\n"
    "\n"
    "  --simulate   start a simulated board inside the panel and make it port 1\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered before any window system is touched, so they work over ssh.
    bool simulate = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("relay-panel %s\n", RELAY_PANEL_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--simulate") == 0)
            simulate = true;
    }

    relay::use_qt_event_dispatcher();
    QApplication app(argc, argv);
    QApplication::setApplicationName("relay-panel");
    QApplication::setApplicationVersion(RELAY_PANEL_VERSION);

    std::unique_ptr<relay::pty_board> board;
    if (simulate)
        board = std::make_unique<relay::pty_board>();
    // The poll runs on a thread of its own, and with it what serves the
    // board to others: while connected, scripts and relayctl reach the board
    // through the panel.
    relay::session_thread session([&board](relay::panel_session& s) -> std::unique_ptr<QObject> {
        if (board)
            s.catalog().add_leading_port({board->slave_path(), "simulated relay board"});
        return std::make_unique<relay::port_owner>(s.controller());
    });

    relay::main_form window(session.controller(), session.catalog(), &session);
    window.show();
    return app.exec();
}
