#pragma once
// The names a board goes by on the broker. Its board id is one topic level;
// its node id makes Home Assistant's ids, so it must stay the same across
// restarts, differ from every other relayd's boards, and hold only
// characters both accept.

#include <cstdint>
#include <string>

namespace relay::mqtt {

// Letters, digits, '_' and '-' kept; every other run of characters becomes
// one '-'; leading and trailing '-' dropped.
std::string safe_id(const std::string& text);

// The configured name when there is one; else the USB adapter's serial
// number and the board address ("A50285BI-1"), which follow the adapter to
// another socket; else the USB socket the adapter is plugged into
// ("usb-0-2-1-0-port0-1"), which stays while the adapter does; else the
// device and address ("ttyS0-1"). A pseudo-terminal's number changes each
// time one is made, so it never appears: every one is "pty" ("pty-1").
std::string make_board_id(const std::string& configured, const std::string& adapter_serial,
                          const std::string& usb_socket, const std::string& device_path, std::uint8_t address);

// The USB adapter's serial number for this device (symlinks followed), as
// the kernel tells it under tty_class_dir; empty for a device that is no
// USB adapter's, or an adapter without one.
std::string adapter_serial_number(const std::string& device_path,
                                  const std::string& tty_class_dir = "/sys/class/tty");

// The USB socket of a USB serial adapter, from udev's links in by_path_dir
// ("pci-0000:00:14.0-usb-0:2:1.0-port0" gives "usb-0-2-1-0-port0"); empty
// for a device with no such link.
std::string usb_socket_name(const std::string& device_path, const std::string& by_path_dir = "/dev/serial/by-path");

// The board's node in Home Assistant's ids: the board_id its section of
// the file gives, else the host and the board id ("pi_cabinet"), so that
// two hosts' boards named alike stay two devices.
std::string node_id(const std::string& board_id_key, const std::string& host, const std::string& board);

}  // namespace relay::mqtt
