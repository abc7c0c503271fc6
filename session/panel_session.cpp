#include "session/panel_session.h"

namespace relay {

panel_session::panel_session(QObject* parent)
    : QObject(parent), link(device, port_list), logic(link)
{
    // The board and the watchdog both count on ten ticks a second.
    connect(&poll_timer, &poll_ticker::timeout, this, [this] { logic.Timer1_Timer(); });
    logic.add_view(this);
}

panel_session::~panel_session() { logic.remove_view(this); }

void panel_session::controls_changed()
{
    const bool running = logic.controls().Timer1.running;
    if (running && !poll_timer.is_active())
        poll_timer.start();
    else if (!running && poll_timer.is_active())
        poll_timer.stop();
}

// The window or the daemon's log tells the operator; the session has nothing
// to show.
void panel_session::show_message(const std::string&, const std::string&) {}

}  // namespace relay
