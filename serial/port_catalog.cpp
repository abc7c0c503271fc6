#include "serial/port_catalog.h"

#include "text/number_text.h"
#include "text/shown_text.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace relay {
namespace {

std::string base_name(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_usb_adapter(const port_entry& p)
{
    const auto name = base_name(p.path);
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

// Compares runs of digits by value, so ttyUSB2 sorts before ttyUSB10.
bool natural_less(const std::string& a, const std::string& b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            auto na = a.substr(i, ei - i);
            auto nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string as_device_path(const std::string& text)
{
#ifdef _WIN32
    return text;
#else
    return text.find('/') == std::string::npos ? "/dev/" + text : text;
#endif
}

bool has_control_byte(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<port_entry> order_ports(std::vector<port_entry> ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const port_entry& a, const port_entry& b) {
        const bool ua = is_usb_adapter(a);
        const bool ub = is_usb_adapter(b);
        if (ua != ub)
            return ua;
        return natural_less(base_name(a.path), base_name(b.path));
    });
    return ports;
}

resolved_port resolve_port(const std::string& text, const port_catalog& catalog)
{
    const auto name = trimmed(text);
    if (name.empty())
        return {std::nullopt, "No port is given. Enter a port number (1 is the first port) or a device name such as "
                              "ttyUSB0."};
    if (!parse_decimal(name)) {
        // No device is named with a control byte, and one in the name
        // would reach the serial library's lock file and the messages.
        if (has_control_byte(name) || name.size() > 4096)
            return {std::nullopt, "\"" + shown_text(name, 40) + "\" is not a port number or a device name."};
        return {port_entry{as_device_path(name), {}}, {}};
    }
    const auto number = text_to_int16(name);
    if (!number)
        return {std::nullopt, "Port " + name + " is not a port number the panel can use: enter a whole number from 1 "
                                               "to 32767."};
    if (*number < 1)
        return {std::nullopt, "There is no port " + std::to_string(*number) + ": ports are numbered from 1."};
#ifdef _WIN32
    return {port_entry{"COM" + std::to_string(*number), {}}, {}};
#else
    const auto ports = catalog.ports();
    if (static_cast<std::size_t>(*number) > ports.size()) {
        std::string reason = "There is no port " + std::to_string(*number) + ": ";
        if (ports.empty())
            reason += "this computer shows no serial port at all. Is the board's USB adapter plugged in?";
        else
            reason += "this computer has " + std::to_string(ports.size()) + " serial port" +
                      (ports.size() == 1 ? "" : "s") + ":\n" + describe_ports(catalog);
        return {std::nullopt, reason};
    }
    return {ports[static_cast<std::size_t>(*number) - 1], {}};
#endif
}

std::string describe_ports(const port_catalog& catalog)
{
    const auto ports = catalog.ports();
    if (ports.empty())
        return "No serial port found.";
    std::ostringstream out;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            out << '\n';
        out << (i + 1) << ": " << ports[i].path;
        if (!ports[i].description.empty())
            out << " (" << ports[i].description << ')';
    }
    return out.str();
}

}  // namespace relay
