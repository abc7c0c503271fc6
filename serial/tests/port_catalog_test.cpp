#include "serial/port_catalog.h"
#include "serial/sysfs_port_catalog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>

namespace relay {
namespace {

class listed_ports : public port_catalog {
public:
    explicit listed_ports(std::vector<port_entry> p) : entries(std::move(p)) {}
    std::vector<port_entry> ports() const override { return entries; }
    std::vector<port_entry> entries;
};

std::vector<std::string> paths(const std::vector<port_entry>& ports)
{
    std::vector<std::string> out;
    for (const auto& p : ports)
        out.push_back(p.path);
    return out;
}

TEST(order_ports, usb_adapters_come_first_in_natural_name_order)
{
    const auto ordered = order_ports({{"/dev/ttyS1", {}},
                                      {"/dev/ttyUSB10", {}},
                                      {"/dev/ttyS0", {}},
                                      {"/dev/ttyUSB2", {}},
                                      {"/dev/ttyACM0", {}},
                                      {"/dev/ttyAMA0", {}}});
    const std::vector<std::string> expected{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                            "/dev/ttyAMA0", "/dev/ttyS0",   "/dev/ttyS1"};
    EXPECT_EQ(paths(ordered), expected);
}

#ifndef _WIN32
struct resolve_case {
    std::string text;
    std::string path;            // expected device, empty when it must fail
    std::string reason_contains; // part of the plain-words reason
};

std::ostream& operator<<(std::ostream& os, const resolve_case& c) { return os << '"' << c.text << '"'; }

class resolve_port_test : public ::testing::TestWithParam<resolve_case> {};

TEST_P(resolve_port_test, maps_text_to_a_device_or_says_why_not)
{
    const listed_ports catalog({{"/dev/ttyUSB0", "CP2102 USB to UART"}, {"/dev/ttyS0", {}}});
    const auto& c = GetParam();
    const auto resolved = resolve_port(c.text, catalog);
    if (c.path.empty()) {
        EXPECT_FALSE(resolved.port);
        EXPECT_NE(resolved.reason.find(c.reason_contains), std::string::npos) << resolved.reason;
    } else {
        ASSERT_TRUE(resolved.port) << resolved.reason;
        EXPECT_EQ(resolved.port->path, c.path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    port_field, resolve_port_test,
    ::testing::Values(resolve_case{"1", "/dev/ttyUSB0", {}}, resolve_case{"2", "/dev/ttyS0", {}},
                      resolve_case{"1.5", "/dev/ttyS0", {}}, resolve_case{"2.5", "/dev/ttyS0", {}},
                      resolve_case{"3", {}, "2 serial ports"}, resolve_case{"0", {}, "numbered from 1"},
                      resolve_case{"-4", {}, "numbered from 1"}, resolve_case{"99999", {}, "1 to 32767"},
                      resolve_case{"", {}, "No port is given"}, resolve_case{"   ", {}, "No port is given"},
                      resolve_case{"ttyUSB7", "/dev/ttyUSB7", {}}, resolve_case{"/dev/pts/3", "/dev/pts/3", {}},
                      resolve_case{" /tmp/board ", "/tmp/board", {}},
                      resolve_case{"a\nb", {}, "not a port number or a device name"},
                      // A control byte names no device, and is shown, not sent to the terminal.
                      resolve_case{std::string("pts/90\0", 7), {}, "\"pts/90\\x00\" is not a port number"},
                      resolve_case{"\x1b]0;x\x07", {}, "\"\\x1b]0;x\\x07\" is not a port number"},
                      resolve_case{"tty\x7f", {}, "not a port number or a device name"}));

TEST(resolve_port, an_empty_system_says_to_plug_the_adapter_in)
{
    const listed_ports none({});
    const auto resolved = resolve_port("1", none);
    EXPECT_FALSE(resolved.port);
    EXPECT_NE(resolved.reason.find("plugged in"), std::string::npos);
}
#endif

TEST(describe_ports, numbers_each_port_with_its_description)
{
    const listed_ports catalog({{"/dev/ttyUSB0", "CP2102 USB to UART"}, {"/dev/ttyS0", {}}});
    EXPECT_EQ(describe_ports(catalog), "1: /dev/ttyUSB0 (CP2102 USB to UART)\n2: /dev/ttyS0");
    EXPECT_EQ(describe_ports(listed_ports({})), "No serial port found.");
}

// A /sys/class/tty as the kernel lays it out: each terminal a link into
// the device tree, with a device link to what it hangs under.
class fake_sysfs {
public:
    fake_sysfs()
    {
        char pattern[] = "/tmp/sysfs_catalog_test-XXXXXX";
        root = ::mkdtemp(pattern);
        std::filesystem::create_directories(root + "/class/tty");
    }
    ~fake_sysfs() { std::filesystem::remove_all(root); }

    // A terminal; device: its path under devices/, empty for none.
    void add(const std::string& name, const std::string& device, const std::string& driver = {},
             const std::string& type = {})
    {
        const auto tty = root + "/devices/virtual/" + name;
        std::filesystem::create_directories(tty);
        if (!type.empty())
            std::ofstream(tty + "/type") << type << "\n";
        if (!device.empty()) {
            const auto at = root + "/devices/" + device;
            std::filesystem::create_directories(at);
            std::filesystem::create_directory_symlink(at, tty + "/device");
            if (!driver.empty()) {
                std::filesystem::create_directories(root + "/bus/drivers/" + driver);
                std::filesystem::create_directory_symlink(root + "/bus/drivers/" + driver, at + "/driver");
            }
        }
        std::filesystem::create_directory_symlink(tty, root + "/class/tty/" + name);
    }
    void describe(const std::string& device, const std::string& product, const std::string& maker)
    {
        std::ofstream(root + "/devices/" + device + "/product") << product << "\n";
        std::ofstream(root + "/devices/" + device + "/manufacturer") << maker << "\n";
    }

    std::string root;
};

TEST(sysfs_port_catalog, lists_the_lines_behind_a_device_usb_first_and_describes_usb_adapters)
{
    fake_sysfs sys;
    sys.add("tty1", "");
    sys.add("console", "");
    sys.add("ttyS0", "pnp0/00:00", "serial8250", "4");
    sys.add("ttyS1", "platform/serial8250", "serial8250", "0");
    sys.add("ttyS2", "pnp0/00:01", "port", "4");
    sys.add("ttyUSB10", "usb1/1-2/1-2:1.0/ttyUSB10");
    sys.add("ttyUSB2", "usb1/1-1/1-1:1.0/ttyUSB2");
    sys.describe("usb1/1-1", "CP2102 USB to UART Bridge Controller", "Silicon Labs");
    sys.add("ttyACM0", "usb1/1-3/1-3:1.0");
    sys.describe("usb1/1-3", "Relay Board Silicon Labs", "Silicon Labs");
    sys.add("rfcomm0", "");

    const auto found = sysfs_port_catalog(sys.root + "/class/tty", "/dev").ports();
    EXPECT_EQ(paths(found), (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/rfcomm0",
                                                      "/dev/ttyS0", "/dev/ttyS2"}));
    ASSERT_EQ(found.size(), 6u);
    EXPECT_EQ(found[0].description, "Relay Board Silicon Labs");
    EXPECT_EQ(found[1].description, "CP2102 USB to UART Bridge Controller, Silicon Labs");
    EXPECT_EQ(found[2].description, "");
    EXPECT_EQ(found[4].description, "");
}

TEST(sysfs_port_catalog, a_missing_tty_class_lists_nothing)
{
    EXPECT_TRUE(sysfs_port_catalog("/nonexistent/class/tty").ports().empty());
}

}  // namespace
}  // namespace relay
