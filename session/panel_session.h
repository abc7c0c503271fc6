#pragma once
// Everything the window shows, without the window: the real serial port,
// the port numbering, the link, the panel logic and the 100 ms ticker that
// drives it. The window only paints the logic's controls and forwards the
// operator's clicks and edits.

#include "panel/panel_controller.h"
#include "serial/qt_serial_device.h"
#include "serial/serial_link.h"
#include "serial/system_port_catalog.h"
#include "session/poll_ticker.h"

#include <QObject>

namespace relay {

class panel_session : public QObject, private panel_controller::view {
    Q_OBJECT
public:
    explicit panel_session(QObject* parent = nullptr);
    ~panel_session() override;

    panel_controller& controller() { return logic; }
    system_port_catalog& catalog() { return port_list; }
    poll_ticker& timer() { return poll_timer; }
    qt_serial_device& port_device() { return device; }

private:
    void controls_changed() override;
    void show_message(const std::string& title, const std::string& text) override;

    system_port_catalog port_list;
    qt_serial_device device;
    serial_link link;
    panel_controller logic;
    poll_ticker poll_timer{poll_period};
};

}  // namespace relay
