// What each numeric field does with awkward input, row by row as the README
// lists it: the text the address field keeps, the address the next frame
// carries, and what connecting with that text in the port field does.

#include "fake_panel.h"
#include "panel/panel_controller.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace relay::testing {
namespace {

struct field_row {
    std::string name;
    std::string text;
    std::string address_keeps;
    std::optional<std::uint8_t> frame_address;  // nothing: no frame is sent
    std::string port_opens;                     // device opened, or empty
    std::string port_message;                   // part of the message, when it fails
};

std::ostream& operator<<(std::ostream& os, const field_row& r) { return os << r.name; }

class field_input : public ::testing::TestWithParam<field_row>, protected fake_panel {
protected:
    field_input() { logic.Form_Load(); }
};

TEST_P(field_input, address_field)
{
    const auto& row = GetParam();
    logic.open_comm_Click();
    logic.set_add_text(row.text);
    EXPECT_EQ(logic.controls().add.text, row.address_keeps);
    logic.Timer1_Timer();
    if (row.frame_address) {
        ASSERT_EQ(device.written.size(), 1u);
        EXPECT_EQ(device.written[0][1], *row.frame_address);
    } else {
        EXPECT_TRUE(device.written.empty());
    }
}

TEST_P(field_input, port_field)
{
    const auto& row = GetParam();
    logic.set_chuankou_num_text(row.text);
    logic.open_comm_Click();
    if (!row.port_opens.empty()) {
        ASSERT_EQ(device.opened_paths.size(), 1u) << view.last_message();
        EXPECT_EQ(device.opened_paths[0], row.port_opens);
        EXPECT_EQ(logic.controls().open_comm.caption, "disconnect");
    } else {
        EXPECT_TRUE(device.opened_paths.empty());
        EXPECT_EQ(logic.controls().open_comm.caption, "connect");
        EXPECT_NE(view.last_message().find(row.port_message), std::string::npos) << view.last_message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    readme_table, field_input,
    ::testing::Values(
        field_row{"empty", "", "", std::nullopt, "", "No port is given"},
        field_row{"blank", " ", " ", std::nullopt, "", "No port is given"},
        field_row{"letters", "abc", "abc", std::nullopt, "/dev/abc", ""},
        field_row{"minus_one", "-1", "-1", std::nullopt, "", "ports are numbered from 1"},
        field_row{"one_and_a_half", "1.5", "1.5", 2, "/dev/ttyS0", ""},
        field_row{"two_and_a_half", "2.5", "2.5", 2, "/dev/ttyS0", ""},
        field_row{"above_255_by_a_half", "255.5", "0", 0, "", "There is no port 256"},
        field_row{"256", "256", "0", 0, "", "There is no port 256"},
        field_row{"exponent", "1e3", "0", 0, "", "There is no port 1000"},
        field_row{"five_nines", "99999", "0", 0, "", "1 to 32767"},
        field_row{"hexadecimal", "0x10", "0x10", std::nullopt, "/dev/0x10", ""},
        field_row{"paste_of_10000_digits", std::string(10000, '9'), "0", 0, "", "1 to 32767"},
        field_row{"paste_of_10000_letters", std::string(10000, 'x'), std::string(10000, 'x'), std::nullopt, "",
                  "not a port number or a device name"},
        field_row{"arabic_indic_digit", "\xd9\xa3", "\xd9\xa3", std::nullopt, "/dev/\xd9\xa3", ""},
        field_row{"escape_sequence", "\x1b]0;x\x07", "\x1b]0;x\x07", std::nullopt, "",
                  "\"\\x1b]0;x\\x07\" is not a port number or a device name"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace relay::testing
