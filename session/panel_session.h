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

    panel_controller& controller() { return parts.controller; }
    system_port_catalog& catalog() { return parts.catalog; }
    poll_ticker& timer() { return parts.timer; }
    qt_serial_device& port_device() { return parts.device; }

private:
    void controls_changed() override;
    void show_message(const std::string& title, const std::string& text) override;

    // In the order they depend on each other: the link on the device and the
    // catalog, the controller on the link.
    struct session_parts {
        session_parts() : link(device, catalog), controller(link) {}
        system_port_catalog catalog;
        qt_serial_device device;
        serial_link link;
        panel_controller controller;
        poll_ticker timer{poll_period};
    } parts;
};

}  // namespace relay
