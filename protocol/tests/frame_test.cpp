#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace relay {
namespace {

struct encode_case {
    std::string name;
    std::int32_t address;
    command_tuple command;
    frame expected;
};

std::ostream& operator<<(std::ostream& os, const encode_case& c) { return os << c.name; }

class encode_command_test : public ::testing::TestWithParam<encode_case> {};

TEST_P(encode_command_test, builds_the_frame_byte_by_byte)
{
    const auto& c = GetParam();
    EXPECT_EQ(encode_command(c.address, c.command), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    worked_examples, encode_command_test,
    ::testing::Values(
        encode_case{"status_query", 1, {0, {0, 0, 0, 0}}, {0x55, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x56}},
        encode_case{"relay1_on", 1, {1, {2, 0, 0, 0}}, {0x55, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x59}},
        encode_case{"relay2_on", 1, {1, {0, 2, 0, 0}}, {0x55, 0x01, 0x01, 0x00, 0x02, 0x00, 0x00, 0x59}},
        encode_case{"all_on", 1, {1, {2, 2, 2, 2}}, {0x55, 0x01, 0x01, 0x02, 0x02, 0x02, 0x02, 0x5F}},
        encode_case{"all_off", 1, {1, {1, 1, 1, 1}}, {0x55, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x5B}},
        encode_case{"all_on_address_255_checksum_wraps", 255, {1, {2, 2, 2, 2}},
                    {0x55, 0xFF, 0x01, 0x02, 0x02, 0x02, 0x02, 0x5D}},
        encode_case{"status_query_address_0", 0, {0, {0, 0, 0, 0}}, {0x55, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x55}},
        encode_case{"address_256_wraps_to_0", 256, {0, {0, 0, 0, 0}}, {0x55, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x55}},
        encode_case{"negative_address_stays_a_byte", -1, {0, {0, 0, 0, 0}},
                    {0x55, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x54}}),
    [](const auto& info) { return info.param.name; });

struct status_case {
    std::string name;
    frame bytes;
    bool valid;
};

std::ostream& operator<<(std::ostream& os, const status_case& c) { return os << c.name; }

class status_validation_test : public ::testing::TestWithParam<status_case> {};

TEST_P(status_validation_test, accepts_only_start_byte_and_checksum)
{
    const auto& c = GetParam();
    EXPECT_EQ(is_valid_status(c.bytes), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    frames, status_validation_test,
    ::testing::Values(
        status_case{"relay1_on_others_off", {0x22, 0x00, 0x00, 0x02, 0x01, 0x01, 0x01, 0x27}, true},
        status_case{"start_byte_0x23_with_matching_checksum", {0x23, 0x00, 0x00, 0x02, 0x01, 0x01, 0x01, 0x28}, false},
        status_case{"checksum_one_too_high", {0x22, 0x00, 0x00, 0x02, 0x01, 0x01, 0x01, 0x28}, false},
        status_case{"checksum_one_too_low", {0x22, 0x00, 0x00, 0x02, 0x01, 0x01, 0x01, 0x26}, false},
        status_case{"other_board_address_is_accepted", {0x22, 0x07, 0x00, 0x02, 0x01, 0x01, 0x01, 0x2E}, true},
        status_case{"bytes_1_and_2_0xff_checksum_wraps", {0x22, 0xFF, 0xFF, 0x02, 0x02, 0x02, 0x02, 0x28}, true},
        status_case{"bytes_1_and_2_0xff_unwrapped_checksum", {0x22, 0xFF, 0xFF, 0x02, 0x02, 0x02, 0x02, 0x27}, false},
        status_case{"command_frame_is_no_status", {0x55, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x56}, false},
        status_case{"all_zero", {0, 0, 0, 0, 0, 0, 0, 0}, false}),
    [](const auto& info) { return info.param.name; });

TEST(status_decoding, takes_relay_i_from_byte_2_plus_i)
{
    const frame f{0x22, 0x00, 0x00, 0x02, 0x01, 0x07, 0x00, 0x2C};
    const std::array<std::uint8_t, 4> expected{2, 1, 7, 0};
    EXPECT_EQ(decode_status(f), expected);
}

TEST(status_encoding, round_trips_through_validation)
{
    const auto f = encode_status(0xFF, 0xFF, {2, 2, 2, 2});
    EXPECT_EQ(f[7], 0x28);
    EXPECT_TRUE(is_valid_status(f));
}

TEST(command_decoding, reads_back_what_was_encoded_and_rejects_corruption)
{
    const command_tuple sent{1, {0, 0, 2, 0}};
    auto f = encode_command(42, sent);
    std::uint8_t address = 0;
    command_tuple got;
    ASSERT_TRUE(decode_command(f, address, got));
    EXPECT_EQ(address, 42);
    EXPECT_EQ(got, sent);

    f[4] ^= 0x01;
    EXPECT_FALSE(decode_command(f, address, got));
}

}  // namespace
}  // namespace relay
