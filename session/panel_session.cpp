#include "session/panel_session.h"

namespace relay {

panel_session::panel_session(QObject* parent)
    : QObject(parent), link(device, port_list), logic(link)
{
    // The board and the watchdog both count on ten ticks a second.
    connect(&poll_timer, &poll_ticker::timeout, this, [this] { logic.Timer1_Timer(); });
    logic.set_view(this);
}

panel_session::~panel_session() { logic.set_view(nullptr); }

void panel_session::controls_changed()
{
    const bool running = logic.controls().Timer1.running;
    if (running && !poll_timer.is_active())
        poll_timer.start();
    else if (!running && poll_timer.is_active())
        poll_timer.stop();
    if (window)
        window->controls_changed();
}

void panel_session::show_message(const std::string& title, const std::string& text)
{
    if (window)
        window->show_message(title, text);
}

}  // namespace relay
