// What a message on a set topic switches: exactly the relay it names, and
// only for the exact words; and the board ids the topics carry.

#include "mqtt/board_id.h"
#include "mqtt/set_command.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace relay::mqtt {
namespace {

constexpr relay_statuses relay_2_on{status_off, status_on, status_off, status_off};
constexpr relay_statuses unknown{};

struct set_row {
    const char* name;
    std::string subtopic;
    std::string payload;
    bool retained;
    relay_statuses reported;
    std::optional<command_tuple> command;
    std::string words;  // in the refusal
    bool ignored = false;
    std::optional<timed_step> timed = {};
};

class set_topic : public ::testing::TestWithParam<set_row> {};

TEST_P(set_topic, switches_only_what_it_names)
{
    const auto& row = GetParam();
    const auto r = parse_set_request(row.subtopic, row.payload, row.retained, row.reported);
    EXPECT_EQ(r.command, row.command);
    EXPECT_NE(r.error.find(row.words), std::string::npos) << r.error;
    EXPECT_EQ(r.ignored, row.ignored);
    EXPECT_EQ(r.timed, row.timed);
    // Exactly one of: a command, a timed step, a refusal, nothing said at all.
    EXPECT_EQ(r.error.empty(), r.command.has_value() || r.timed.has_value() || r.ignored);
    EXPECT_LE(int(r.command.has_value()) + int(r.timed.has_value()) + int(r.ignored), 1);
}

const std::string ten_kb(10240, 'O');

INSTANTIATE_TEST_SUITE_P(
    payloads, set_topic,
    ::testing::Values(
        set_row{"on", "relay/1/set", "ON", false, unknown, single_relay(1, action_on), ""},
        set_row{"off_lower", "relay/4/set", "off", false, unknown, single_relay(4, action_off), ""},
        set_row{"on_mixed_case", "relay/3/set", "oN", false, unknown, single_relay(3, action_on), ""},
        set_row{"toggle_on_to_off", "relay/2/set", "TOGGLE", false, relay_2_on, single_relay(2, action_off), ""},
        set_row{"toggle_off_to_on", "relay/1/set", "toggle", false, relay_2_on, single_relay(1, action_on), ""},
        set_row{"toggle_unknown", "relay/1/set", "TOGGLE", false, unknown, std::nullopt, "state is unknown"},
        set_row{"all_on", "all/set", "ON", false, unknown, all_relays(action_on), ""},
        set_row{"all_off", "all/set", "Off", false, unknown, all_relays(action_off), ""},
        set_row{"all_toggle", "all/set", "TOGGLE", false, relay_2_on, std::nullopt, "all/set takes ON or OFF"},
        // Clearing a retained command, as the refusal of one advises,
        // reaches subscribers as an empty message, retained or not.
        set_row{"empty", "relay/1/set", "", false, unknown, std::nullopt, "", true},
        set_row{"empty_retained", "relay/1/set", "", true, unknown, std::nullopt, "", true},
        set_row{"empty_all_retained", "all/set", "", true, unknown, std::nullopt, "", true},
        set_row{"empty_no_such_relay", "relay/9/set", "", true, unknown, std::nullopt, "", true},
        set_row{"trailing_space", "relay/1/set", "on ", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"leading_space", "relay/1/set", " ON", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"newline", "relay/1/set", "ON\n", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"one", "relay/1/set", "1", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"true", "relay/1/set", "true", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"nul_inside", "relay/1/set", std::string("O\0N", 3), false, unknown, std::nullopt, "takes ON"},
        set_row{"binary", "relay/1/set", std::string("\xff\xfe\x00\x01", 4), false, unknown, std::nullopt, "takes ON"},
        set_row{"ten_kb", "relay/1/set", ten_kb, false, unknown, std::nullopt, "takes ON"},
        set_row{"json", "relay/1/set", "{\"state\":\"ON\"}", false, unknown, std::nullopt, "takes ON"},
        set_row{"relay_0", "relay/0/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_5", "relay/5/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_10", "relay/10/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_letter", "relay/a/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_empty", "relay//set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"retained_on", "relay/1/set", "ON", true, unknown, std::nullopt, "retained command is ignored"},
        set_row{"retained_all", "all/set", "OFF", true, unknown, std::nullopt, "retained command is ignored"},
        // Pulse and cycle: the payload is the milliseconds, nothing else.
        set_row{"pulse", "relay/2/pulse", "500", false, unknown, std::nullopt, "", false,
                timed_step{command_kind::pulse, 2, std::chrono::milliseconds(500)}},
        set_row{"cycle_longest", "relay/4/cycle", "86400000", false, relay_2_on, std::nullopt, "", false,
                timed_step{command_kind::cycle, 4, std::chrono::milliseconds(86400000)}},
        set_row{"pulse_shortest", "relay/1/pulse", "100", false, unknown, std::nullopt, "", false,
                timed_step{command_kind::pulse, 1, std::chrono::milliseconds(100)}},
        // A retained pulse would pulse the relay again at every reconnect.
        set_row{"retained_pulse", "relay/2/pulse", "500", true, unknown, std::nullopt, "retained command is ignored"},
        set_row{"retained_cycle", "relay/3/cycle", "500", true, unknown, std::nullopt, "retained command is ignored"},
        set_row{"empty_pulse", "relay/2/pulse", "", true, unknown, std::nullopt, "", true},
        set_row{"pulse_too_short", "relay/2/pulse", "99", false, unknown, std::nullopt,
                "relay/2/pulse takes the milliseconds: a duration must be from 100 ms to 24 h"},
        set_row{"cycle_too_long", "relay/2/cycle", "86400001", false, unknown, std::nullopt, "from 100 ms to 24 h"},
        set_row{"pulse_with_unit", "relay/2/pulse", "500ms", false, unknown, std::nullopt,
                "'500ms' is not a whole number of milliseconds"},
        set_row{"pulse_word", "relay/2/pulse", "ON", false, unknown, std::nullopt, "not a whole number"},
        set_row{"pulse_fraction", "relay/2/pulse", "500.0", false, unknown, std::nullopt, "not a whole number"},
        set_row{"pulse_negative", "relay/2/pulse", "-500", false, unknown, std::nullopt, "not a whole number"},
        set_row{"pulse_newline", "relay/2/pulse", "500\n", false, unknown, std::nullopt, "not a whole number"},
        set_row{"pulse_huge", "relay/2/pulse", "99999999999999999999", false, unknown, std::nullopt, "not a whole"},
        set_row{"pulse_relay_5", "relay/5/pulse", "500", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"pulse_all", "all/pulse", "500", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"unknown_action", "relay/2/blink", "500", false, unknown, std::nullopt, "topics are set, pulse and cycle"}),
    [](const auto& info) { return std::string(info.param.name); });

struct shown_row {
    const char* name;
    std::string payload;
    std::string shown;
};

class shown : public ::testing::TestWithParam<shown_row> {};

TEST_P(shown, is_safe_to_print)
{
    EXPECT_EQ(shown_payload(GetParam().payload, 8), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    payloads, shown,
    ::testing::Values(shown_row{"plain", "on ", "\"on \""}, shown_row{"empty", "", "\"\""},
                      shown_row{"quote_and_backslash", "a\"b\\", "\"a\\\"b\\\\\""},
                      shown_row{"control_and_high", std::string("\x1b[2J\xff", 5), "\"\\x1B[2J\\xFF\""},
                      shown_row{"nul", std::string("\0", 1), "\"\\x00\""},
                      shown_row{"cut", "0123456789", "\"01234567\"... (10 bytes)"}),
    [](const auto& info) { return std::string(info.param.name); });

struct id_row {
    const char* name;
    std::string configured, serial, usb_socket, device;
    std::uint8_t address;
    std::string id;
};

class board_id : public ::testing::TestWithParam<id_row> {};

TEST_P(board_id, is_safe_and_stable)
{
    const auto& r = GetParam();
    EXPECT_EQ(make_board_id(r.configured, r.serial, r.usb_socket, r.device, r.address), r.id);
}

INSTANTIATE_TEST_SUITE_P(
    sources, board_id,
    ::testing::Values(id_row{"configured", "garage", "A50285BI", "usb-0-2", "/dev/ttyUSB0", 1, "garage"},
                      id_row{"configured_unsafe", "Garage door/#1 +", "", "", "/dev/ttyUSB0", 1, "Garage-door-1"},
                      id_row{"serial", "", "A50285BI", "usb-0-2-1-0-port0", "/dev/ttyUSB0", 1, "A50285BI-1"},
                      id_row{"serial_unsafe", "", "0001 #A/b", "", "/dev/ttyUSB0", 7, "0001-A-b-7"},
                      // No serial number: the USB socket stays when ttyUSB0 becomes ttyUSB1.
                      id_row{"usb_socket", "", "", "usb-0-2-1-0-port0", "/dev/ttyUSB1", 1, "usb-0-2-1-0-port0-1"},
                      id_row{"usb_device", "", "", "", "/dev/ttyUSB0", 1, "ttyUSB0-1"},
                      // A new number each time a pseudo-terminal is made: never in an id.
                      id_row{"pts", "", "", "", "/dev/pts/3", 1, "pty-1"},
                      id_row{"pts_other_number", "", "", "", "/dev/pts/17", 1, "pty-1"},
                      id_row{"address_255", "", "", "", "/dev/ttyACM0", 255, "ttyACM0-255"},
                      id_row{"symlink_elsewhere", "", "", "", "/tmp/x/relay-board", 2, "relay-board-2"},
                      id_row{"nothing_safe", "+++", "###", "", "/dev/+", 3, "board-3"}),
    [](const auto& info) { return std::string(info.param.name); });

struct node_row {
    const char* name;
    std::string board_id, host, board;
    std::string node;
};

class node : public ::testing::TestWithParam<node_row> {};

TEST_P(node, carries_the_host_unless_the_user_named_it)
{
    const auto& r = GetParam();
    EXPECT_EQ(node_id(r.board_id, r.host, r.board), r.node);
}

INSTANTIATE_TEST_SUITE_P(ids, node,
                         ::testing::Values(node_row{"host_and_board", "", "pi", "cabinet", "pi_cabinet"},
                                           node_row{"other_host_same_board", "", "attic", "cabinet", "attic_cabinet"},
                                           node_row{"dotted_host", "", "pi.lan", "cabinet", "pi-lan_cabinet"},
                                           node_row{"no_host", "", "", "pty-1", "host_pty-1"},
                                           node_row{"board_id_wins", "pump_house", "pi", "cabinet", "pump_house"}),
                         [](const auto& info) { return std::string(info.param.name); });

// udev's links under /dev/serial/by-path name the socket an adapter is in.
TEST(usb_socket, is_read_from_the_link_to_the_device)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto device = dir.filePath("ttyUSB7").toStdString();
    QFile(dir.filePath("ttyUSB7")).open(QIODevice::WriteOnly);
    const auto links = dir.filePath("by-path");
    ASSERT_TRUE(QDir().mkpath(links));
    ASSERT_TRUE(QFile::link(dir.filePath("ttyUSB7"), links + "/pci-0000:00:14.0-usb-0:2:1.0-port0"));
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), links + "/pci-0000:00:14.0-usb-0:3:1.0-port0"));
    EXPECT_EQ(usb_socket_name(device, links.toStdString()), "usb-0-2-1-0-port0");
    EXPECT_EQ(usb_socket_name(dir.filePath("elsewhere").toStdString(), links.toStdString()), "");
    EXPECT_EQ(usb_socket_name(device, dir.filePath("none").toStdString()), "");
}

// The kernel's view of ttys, as under /sys: each tty's device leads into
// the device tree, where a USB device has a vendor id and, when the adapter
// has one, a serial number. The root hub above every adapter has both.
TEST(adapter_serial_number, is_the_usb_devices_own_or_none)
{
    namespace fs = std::filesystem;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path root = dir.path().toStdString();
    const auto hub = root / "devices/pci0000:00/0000:00:14.0/usb1";
    const auto write = [](const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    };
    write(hub / "idVendor", "1d6b\n");
    write(hub / "serial", "0000:00:14.0\n");
    write(hub / "1-2/idVendor", "0403\n");
    write(hub / "1-2/serial", "A50285BI\n");
    write(hub / "1-3/idVendor", "1a86\n");
    const auto tty = [&](const std::string& name, const fs::path& device) {
        fs::create_directories(device / "tty" / name);
        fs::create_directories(root / "class/tty");
        fs::create_symlink(device / "tty" / name, root / "class/tty" / name);
        fs::create_symlink(device, device / "tty" / name / "device");
        write(root / "dev" / name, "");
    };
    tty("ttyUSB0", hub / "1-2/1-2:1.0/ttyUSB0");
    tty("ttyACM0", hub / "1-3/1-3:1.0");
    tty("ttyS0", root / "devices/platform/serial8250");
    write(root / "dev/ttyUSB9", "");
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink(root / "dev/ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");

    const struct {
        const char* device;
        std::string serial;
    } rows[] = {
        {"dev/ttyUSB0", "A50285BI"},
        {"dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", "A50285BI"},
        // Not the root hub's: that names no adapter.
        {"dev/ttyACM0", ""},
        {"dev/ttyS0", ""},
        {"dev/ttyUSB9", ""},
        {"dev/missing", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.device);
        EXPECT_EQ(adapter_serial_number((root / row.device).string(), (root / "class/tty").string()), row.serial);
    }
}

}  // namespace
}  // namespace relay::mqtt
