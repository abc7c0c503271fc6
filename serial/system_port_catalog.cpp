#include "serial/system_port_catalog.h"

#include <QSerialPortInfo>

namespace relay {

std::vector<port_entry> system_port_catalog::ports() const
{
    std::vector<port_entry> system;
    for (const auto& info : QSerialPortInfo::availablePorts()) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description = description.isEmpty() ? info.manufacturer() : description + ", " + info.manufacturer();
        system.push_back({info.systemLocation().toStdString(), description.toStdString()});
    }
    auto all = leading;
    for (auto& p : order_ports(std::move(system)))
        all.push_back(std::move(p));
    return all;
}

}  // namespace relay
