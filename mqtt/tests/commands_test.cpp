// What a message on a set topic switches: exactly the relay it names, and
// only for the exact words; and the board ids the topics carry.

#include "mqtt/board_id.h"
#include "mqtt/set_command.h"

#include <gtest/gtest.h>

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
};

class set_topic : public ::testing::TestWithParam<set_row> {};

TEST_P(set_topic, switches_only_what_it_names)
{
    const auto& row = GetParam();
    const auto r = parse_set_request(row.subtopic, row.payload, row.retained, row.reported);
    EXPECT_EQ(r.command, row.command);
    EXPECT_NE(r.error.find(row.words), std::string::npos) << r.error;
    EXPECT_EQ(r.error.empty(), r.command.has_value());
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
        set_row{"empty", "relay/1/set", "", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"trailing_space", "relay/1/set", "on ", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"leading_space", "relay/1/set", " ON", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"newline", "relay/1/set", "ON\n", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"one", "relay/1/set", "1", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"true", "relay/1/set", "true", false, unknown, std::nullopt, "takes ON, OFF or TOGGLE"},
        set_row{"nul_inside", "relay/1/set", std::string("O\0N", 3), false, unknown, std::nullopt, "takes ON"},
        set_row{"binary", "relay/1/set", std::string("\xff\xfe\x00\x01", 4), false, unknown, std::nullopt,
                "takes ON"},
        set_row{"ten_kb", "relay/1/set", ten_kb, false, unknown, std::nullopt, "takes ON"},
        set_row{"json", "relay/1/set", "{\"state\":\"ON\"}", false, unknown, std::nullopt, "takes ON"},
        set_row{"relay_0", "relay/0/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_5", "relay/5/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_10", "relay/10/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_letter", "relay/a/set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"relay_empty", "relay//set", "ON", false, unknown, std::nullopt, "numbered 1 to 4"},
        set_row{"retained_on", "relay/1/set", "ON", true, unknown, std::nullopt, "retained command is ignored"},
        set_row{"retained_all", "all/set", "OFF", true, unknown, std::nullopt, "retained command is ignored"}),
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
    std::string configured, serial, device;
    std::uint8_t address;
    std::string id;
};

class board_id : public ::testing::TestWithParam<id_row> {};

TEST_P(board_id, is_safe_and_stable)
{
    const auto& r = GetParam();
    EXPECT_EQ(make_board_id(r.configured, r.serial, r.device, r.address), r.id);
}

INSTANTIATE_TEST_SUITE_P(
    sources, board_id,
    ::testing::Values(id_row{"configured", "garage", "A50285BI", "/dev/ttyUSB0", 1, "garage"},
                      id_row{"configured_unsafe", "Garage door/#1 +", "", "/dev/ttyUSB0", 1, "Garage-door-1"},
                      id_row{"serial", "", "A50285BI", "/dev/ttyUSB0", 1, "A50285BI-1"},
                      id_row{"serial_unsafe", "", "0001 #A/b", "/dev/ttyUSB0", 7, "0001-A-b-7"},
                      id_row{"usb_device", "", "", "/dev/ttyUSB0", 1, "ttyUSB0-1"},
                      id_row{"pts", "", "", "/dev/pts/3", 1, "pts-3-1"},
                      id_row{"address_255", "", "", "/dev/ttyACM0", 255, "ttyACM0-255"},
                      id_row{"symlink_elsewhere", "", "", "/tmp/x/relay-board", 2, "relay-board-2"},
                      id_row{"nothing_safe", "+++", "###", "/dev/+", 3, "board-3"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace relay::mqtt
