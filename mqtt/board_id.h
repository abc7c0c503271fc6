#pragma once
// The name a board goes by on the broker: one topic level and part of Home
// Assistant's unique_id, so it must stay the same across restarts and hold
// only characters both accept.

#include <cstdint>
#include <string>

namespace relay::mqtt {

// Letters, digits, '_' and '-' kept; every other run of characters becomes
// one '-'; leading and trailing '-' dropped.
std::string safe_id(const std::string& text);

// The configured name when there is one; else the USB adapter's serial
// number and the board address ("A50285BI-1"), which follow the adapter to
// another socket; else the device name and address ("ttyUSB0-1", "pts-3-1").
std::string make_board_id(const std::string& configured, const std::string& adapter_serial,
                          const std::string& device_path, std::uint8_t address);

// The adapter's serial number as the system reports it for this device
// (symlinks followed); empty when there is none.
std::string adapter_serial_number(const std::string& device_path);

}  // namespace relay::mqtt
