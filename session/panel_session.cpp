#include "session/panel_session.h"

namespace relay {

panel_session::panel_session(QObject* parent) : QObject(parent)
{
    // The board and the watchdog both count on ten ticks a second.
    connect(&parts.timer, &poll_ticker::timeout, this, [this] { parts.controller.Timer1_Timer(); });
    parts.controller.add_view(this);
}

panel_session::~panel_session() { parts.controller.remove_view(this); }

void panel_session::controls_changed()
{
    const bool running = parts.controller.controls().Timer1.running;
    if (running && !parts.timer.is_active())
        parts.timer.start();
    else if (!running && parts.timer.is_active())
        parts.timer.stop();
}

// The window or the daemon's log tells the operator; the session has nothing
// to show.
void panel_session::show_message(const std::string&, const std::string&) {}

}  // namespace relay
