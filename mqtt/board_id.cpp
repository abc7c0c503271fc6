#include "mqtt/board_id.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace relay::mqtt {

std::string safe_id(const std::string& text)
{
    std::string id;
    bool gap = false;
    for (const char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '-';
        if (keep) {
            if (gap && !id.empty())
                id += '-';
            gap = false;
            id += c;
        } else {
            gap = true;
        }
    }
    while (!id.empty() && id.back() == '-')
        id.pop_back();
    while (!id.empty() && id.front() == '-')
        id.erase(id.begin());
    return id.substr(0, 64);
}

std::string make_board_id(const std::string& configured, const std::string& adapter_serial,
                          const std::string& usb_socket, const std::string& device_path, std::uint8_t address)
{
    if (const auto name = safe_id(configured); !name.empty())
        return name;
    const auto suffix = "-" + std::to_string(address);
    if (const auto serial = safe_id(adapter_serial); !serial.empty())
        return serial + suffix;
    if (const auto socket = safe_id(usb_socket); !socket.empty())
        return socket + suffix;
    const std::string dev = "/dev/";
    if (device_path.compare(0, 9, "/dev/pts/") == 0)
        return "pty" + suffix;
    auto device = device_path.compare(0, dev.size(), dev) == 0 ? device_path.substr(dev.size()) : device_path;
    // A path elsewhere (a symlink a test or udev made) is known by its file name.
    if (device_path.compare(0, dev.size(), dev) != 0) {
        const auto slash = device.rfind('/');
        if (slash != std::string::npos)
            device = device.substr(slash + 1);
    }
    if (const auto name = safe_id(device); !name.empty())
        return name + suffix;
    return "board" + suffix;
}

std::string adapter_serial_number(const std::string& device_path)
{
    const auto wanted = QFileInfo(QString::fromStdString(device_path)).canonicalFilePath();
    for (const auto& info : QSerialPortInfo::availablePorts()) {
        const auto location = QFileInfo(info.systemLocation()).canonicalFilePath();
        if (!wanted.isEmpty() && location == wanted)
            return info.serialNumber().toStdString();
    }
    return {};
}

std::string usb_socket_name(const std::string& device_path, const std::string& by_path_dir)
{
    const auto wanted = QFileInfo(QString::fromStdString(device_path)).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    const QDir links(QString::fromStdString(by_path_dir));
    for (const auto& link : links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (link.canonicalFilePath() != wanted)
            continue;
        // The part from "usb-" on names the socket; what comes before
        // names the controller, which says nothing more on one machine.
        const auto name = link.fileName().toStdString();
        const auto usb = name.find("usb");
        return usb == std::string::npos ? std::string() : safe_id(name.substr(usb));
    }
    return {};
}

std::string node_id(const std::string& board_id_key, const std::string& host, const std::string& board)
{
    if (const auto chosen = safe_id(board_id_key); !chosen.empty())
        return chosen;
    const auto machine = safe_id(host);
    return (machine.empty() ? std::string("host") : machine) + "_" + board;
}

}  // namespace relay::mqtt
