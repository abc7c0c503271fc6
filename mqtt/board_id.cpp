#include "mqtt/board_id.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace relay::mqtt {
namespace {

namespace fs = std::filesystem;

// The file a path leads to, symlinks followed; empty when there is none.
fs::path real_path(const fs::path& path)
{
    std::error_code error;
    auto real = fs::canonical(path, error);
    return error ? fs::path() : real;
}

std::string first_line(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    const auto end = line.find_last_not_of(" \t\r");
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

}  // namespace

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

std::string adapter_serial_number(const std::string& device_path, const std::string& tty_class_dir)
{
    const auto device = real_path(device_path);
    if (device.empty())
        return {};
    // The tty's device is the adapter's USB interface, or a port of one;
    // the USB device holding it is the first folder up with a vendor id.
    // One without a serial number says so: the hub above it has one of its
    // own, which names no adapter.
    auto folder = real_path(fs::path(tty_class_dir) / device.filename() / "device");
    for (; !folder.empty() && folder != folder.root_path(); folder = folder.parent_path()) {
        std::error_code error;
        if (fs::exists(folder / "idVendor", error))
            return fs::exists(folder / "serial", error) ? first_line(folder / "serial") : std::string();
    }
    return {};
}

std::string usb_socket_name(const std::string& device_path, const std::string& by_path_dir)
{
    const auto wanted = real_path(device_path);
    if (wanted.empty())
        return {};
    std::error_code error;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(by_path_dir, error), end; !error && it != end; it.increment(error))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
        if (real_path(link) != wanted)
            continue;
        // The part from "usb-" on names the socket; what comes before
        // names the controller, which says nothing more on one machine.
        const auto name = link.filename().string();
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
