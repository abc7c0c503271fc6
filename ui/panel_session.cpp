#include "ui/panel_session.h"

namespace relay {

panel_session::panel_session(QObject* parent)
    : QObject(parent), link_(device_, catalog_), controller_(link_)
{
    // A coarse timer may stretch a 100 ms period by up to 5 %; the board
    // and the watchdog both count on ten ticks a second.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(poll_period);
    connect(&timer_, &QTimer::timeout, this, [this] { controller_.Timer1_Timer(); });
    controller_.set_view(this);
}

panel_session::~panel_session() { controller_.set_view(nullptr); }

void panel_session::controls_changed()
{
    const bool running = controller_.controls().Timer1.running;
    if (running && !timer_.isActive())
        timer_.start();
    else if (!running && timer_.isActive())
        timer_.stop();
    if (outer_view_)
        outer_view_->controls_changed();
}

void panel_session::show_message(const std::string& title, const std::string& text)
{
    if (outer_view_)
        outer_view_->show_message(title, text);
}

}  // namespace relay
