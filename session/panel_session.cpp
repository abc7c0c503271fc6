#include "session/panel_session.h"

namespace relay {

panel_session::panel_session(QObject* parent) : QObject(parent)
{
    // The board and the watchdog both count on ten ticks a second.
    connect(&parts.timer, &poll_ticker::timeout, this, [this] { parts.core.tick(); });
    parts.core.add_listener(this);
}

panel_session::~panel_session() { parts.core.remove_listener(this); }

void panel_session::connection_changed(bool connected)
{
    if (connected && !parts.timer.is_active())
        parts.timer.start();
    else if (!connected && parts.timer.is_active())
        parts.timer.stop();
}

}  // namespace relay
