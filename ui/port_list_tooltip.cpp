#include "ui/port_list_tooltip.h"

#include "serial/port_catalog.h"

#include <QEvent>
#include <QWidget>

namespace relay {

port_list_tooltip::port_list_tooltip(const port_catalog& catalog, QObject* parent)
    : QObject(parent), ports(catalog)
{
}

void port_list_tooltip::attach(QWidget* widget) { widget->installEventFilter(this); }

bool port_list_tooltip::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        if (auto* widget = qobject_cast<QWidget*>(watched))
            widget->setToolTip(QString::fromStdString(describe_ports(ports)));
    }
    // The widget's own handling shows the text just set.
    return false;
}

}  // namespace relay
