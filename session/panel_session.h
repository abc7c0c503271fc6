#pragma once
// One board on a real serial port: the port numbering, the port, the link,
// the board core and the 100 ms ticker that drives it while connected. The
// window presents it; relayd runs one per board.

#include "core/board_core.h"
#include "serial/qt_serial_device.h"
#include "serial/serial_link.h"
#include "serial/system_port_catalog.h"
#include "session/poll_ticker.h"

#include <QObject>

namespace relay {

class panel_session : public QObject, private board_core::listener {
    Q_OBJECT
public:
    explicit panel_session(QObject* parent = nullptr);
    ~panel_session() override;

    board_core& core() { return parts.core; }
    system_port_catalog& catalog() { return parts.catalog; }
    poll_ticker& timer() { return parts.timer; }
    qt_serial_device& port_device() { return parts.device; }

private:
    void connection_changed(bool connected) override;

    // In the order they depend on each other: the link on the device and the
    // catalog, the core on the link.
    struct session_parts {
        session_parts() : link(device, catalog), core(link) {}
        system_port_catalog catalog;
        qt_serial_device device;
        serial_link link;
        board_core core;
        poll_ticker timer{poll_period};
    } parts;
};

}  // namespace relay
