#include "sim/board_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace relay {
namespace {

using bytes = std::vector<std::uint8_t>;

bytes command(std::uint8_t address, std::uint8_t code, std::array<std::uint8_t, relay_count> actions)
{
    const auto f = encode_command(address, command_tuple{code, actions});
    return {f.begin(), f.end()};
}

bytes query(std::uint8_t address = 1) { return command(address, code_status_query, {0, 0, 0, 0}); }

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct stream_case {
    std::string name;
    std::optional<std::uint8_t> own_address;
    // The stream as it arrives, piece by piece.
    std::vector<bytes> pieces;
    // Valid command frames found, and the answers given to them in order.
    std::size_t frames_found;
    std::vector<frame> answers;
    std::array<bool, relay_count> relays_after;
};

std::ostream& operator<<(std::ostream& out, const stream_case& c) { return out << c.name; }

frame status(std::uint8_t address, std::uint8_t code, std::array<std::uint8_t, relay_count> s)
{
    return encode_status(address, code, s);
}

constexpr std::uint8_t f_ = status_off;
constexpr std::uint8_t n_ = status_on;

bytes with_bad_checksum(bytes b)
{
    b[7] = static_cast<std::uint8_t>(b[7] + 1);
    return b;
}

const stream_case stream_cases[] = {
    {"query_answers_all_off", std::nullopt, {query()}, 1, {status(1, 0, {f_, f_, f_, f_})}, {}},
    {"single_relay_on", std::nullopt, {command(1, 1, {0, 2, 0, 0})}, 1, {status(1, 1, {f_, n_, f_, f_})},
     {false, true, false, false}},
    {"single_relay_on_then_off",
     std::nullopt,
     {command(1, 1, {0, 0, 2, 0}) + command(1, 1, {0, 0, 1, 0})},
     2,
     {status(1, 1, {f_, f_, n_, f_}), status(1, 1, {f_, f_, f_, f_})},
     {}},
    {"all_on", std::nullopt, {command(1, 1, {2, 2, 2, 2})}, 1, {status(1, 1, {n_, n_, n_, n_})},
     {true, true, true, true}},
    {"all_on_then_all_off",
     std::nullopt,
     {command(1, 1, {2, 2, 2, 2}), command(1, 1, {1, 1, 1, 1})},
     2,
     {status(1, 1, {n_, n_, n_, n_}), status(1, 1, {f_, f_, f_, f_})},
     {}},
    {"leave_keeps_others",
     std::nullopt,
     {command(1, 1, {2, 0, 2, 0}) + command(1, 1, {0, 1, 0, 0}) + query()},
     3,
     {status(1, 1, {n_, f_, n_, f_}), status(1, 1, {n_, f_, n_, f_}), status(1, 0, {n_, f_, n_, f_})},
     {true, false, true, false}},
    {"unknown_actions_ignored", std::nullopt, {command(1, 1, {3, 2, 0xFF, 0})}, 1,
     {status(1, 1, {f_, n_, f_, f_})}, {false, true, false, false}},
    {"unknown_code_not_answered_nor_applied", std::nullopt, {command(1, 2, {2, 2, 2, 2})}, 1, {}, {}},
    {"bad_checksum_ignored", std::nullopt, {with_bad_checksum(command(1, 1, {2, 2, 2, 2}))}, 0, {}, {}},
    {"bad_checksum_then_good_frame",
     std::nullopt,
     {with_bad_checksum(command(1, 1, {2, 2, 2, 2})) + query()},
     1,
     {status(1, 0, {f_, f_, f_, f_})},
     {}},
    {"junk_before_frame_realigns", std::nullopt, {bytes{0x00, 0x13, 0xFF, 0x55, 0x55, 0x01} + query(7)}, 1,
     {status(7, 0, {f_, f_, f_, f_})}, {}},
    {"frame_split_in_pieces",
     std::nullopt,
     {{0x55}, {0x01, 0x01}, {0x00, 0x02, 0x00}, {0x00}, {0x59}},
     1,
     {status(1, 1, {f_, n_, f_, f_})},
     {false, true, false, false}},
    {"shifted_frame_inside_noise",
     std::nullopt,
     {bytes{0x55, 0x01, 0x00} + command(3, 1, {0, 0, 0, 2})},
     1,
     {status(3, 1, {f_, f_, f_, n_})},
     {false, false, false, true}},
    {"any_address_answered_without_filter", std::nullopt, {query(0) + query(255)}, 2,
     {status(0, 0, {f_, f_, f_, f_}), status(255, 0, {f_, f_, f_, f_})}, {}},
    {"address_filter_answers_own", 5, {query(5)}, 1, {status(5, 0, {f_, f_, f_, f_})}, {}},
    {"address_filter_ignores_others", 5, {query(4) + command(6, 1, {2, 2, 2, 2})}, 2, {}, {}},
    {"address_filter_applies_own_only",
     5,
     {command(4, 1, {2, 0, 0, 0}) + command(5, 1, {0, 2, 0, 0})},
     2,
     {status(5, 1, {f_, n_, f_, f_})},
     {false, true, false, false}},
    {"status_frame_is_not_a_command", std::nullopt,
     {[] {
         const auto f = status(1, 0, {n_, n_, n_, n_});
         return bytes(f.begin(), f.end());
     }()},
     0, {}, {}},
};

class board_stream : public ::testing::TestWithParam<stream_case> {};

TEST_P(board_stream, finds_frames_answers_and_switches)
{
    const auto& c = GetParam();
    board_model board(c.own_address);
    std::size_t found = 0;
    std::vector<frame> answers;
    for (const auto& piece : c.pieces) {
        for (const auto& event : board.feed(piece)) {
            ++found;
            if (event.answer)
                answers.push_back(*event.answer);
        }
    }
    EXPECT_EQ(found, c.frames_found);
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(board.relays(), c.relays_after);
}

INSTANTIATE_TEST_SUITE_P(cases, board_stream, ::testing::ValuesIn(stream_cases),
                         [](const auto& info) { return info.param.name; });

TEST(board_model, starts_with_every_relay_off)
{
    board_model board;
    EXPECT_EQ(board.relays(), (std::array<bool, relay_count>{}));
    EXPECT_EQ(board.statuses(), (std::array<std::uint8_t, relay_count>{f_, f_, f_, f_}));
}

TEST(board_model, event_carries_the_command_frame)
{
    board_model board;
    const auto sent = command(9, 1, {0, 0, 2, 0});
    const auto events = board.feed(sent);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(bytes(events[0].command.begin(), events[0].command.end()), sent);
}

TEST(board_model, noise_never_piles_up)
{
    board_model board;
    // Start bytes with nothing valid after them are the worst case: each
    // could begin a frame.
    bytes noise(100000, command_start_byte);
    for (std::size_t i = 0; i < noise.size(); i += 3)
        noise[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < noise.size(); i += 997) {
        const auto end = std::min(noise.size(), i + 997);
        board.feed(noise.data() + i, end - i);
        EXPECT_LT(board.bytes_held(), frame_size);
    }
    const auto events = board.feed(query());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].answer.has_value());
}

TEST(board_model, reset_stream_forgets_a_partial_frame)
{
    board_model board;
    const auto q = query();
    board.feed(q.data(), 5);
    board.reset_stream();
    EXPECT_EQ(board.bytes_held(), 0u);
    EXPECT_TRUE(board.feed(q.data() + 5, 3).empty());
    EXPECT_EQ(board.feed(q).size(), 1u);
}

}  // namespace
}  // namespace relay
