#include "serial/sysfs_port_catalog.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace relay {
namespace {

namespace fs = std::filesystem;

std::string first_line(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Terminals with no device of their own that are serial lines all the same.
bool is_deviceless_line(const std::string& name)
{
    return name.rfind("rfcomm", 0) == 0 || name.rfind("tnt", 0) == 0 || name.rfind("ttyGS", 0) == 0;
}

// An 8250 slot the kernel reserved without finding a UART there says its
// type is 0 (unknown).
bool is_empty_8250_slot(const fs::path& tty)
{
    std::error_code error;
    const auto driver = fs::read_symlink(tty / "device" / "driver", error);
    if (error || driver.filename() != "serial8250")
        return false;
    return first_line(tty / "type") == "0";
}

// "CP2102 USB to UART Bridge Controller, Silicon Labs" from the USB device
// the terminal hangs under, a few levels up; empty for anything else.
std::string usb_description(const fs::path& tty)
{
    std::error_code error;
    fs::path at = fs::canonical(tty / "device", error);
    if (error)
        return {};
    for (int level = 0; level < 4 && !at.empty() && at != at.root_path(); ++level, at = at.parent_path()) {
        const auto product = first_line(at / "product");
        if (product.empty())
            continue;
        const auto maker = first_line(at / "manufacturer");
        if (maker.empty() || product.find(maker) != std::string::npos)
            return product;
        return product + ", " + maker;
    }
    return {};
}

}  // namespace

std::vector<port_entry> sysfs_port_catalog::ports() const
{
    std::vector<port_entry> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(tty_class, error)) {
        const auto name = entry.path().filename().string();
        std::error_code missing;
        const bool has_device = fs::exists(entry.path() / "device", missing);
        if (!has_device && !is_deviceless_line(name))
            continue;
        if (has_device && is_empty_8250_slot(entry.path()))
            continue;
        found.push_back({dev + "/" + name, usb_description(entry.path())});
    }
    return order_ports(std::move(found));
}

}  // namespace relay
