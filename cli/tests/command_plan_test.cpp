#include "cli/command_plan.h"

#include <gtest/gtest.h>

#include <optional>

namespace relay::cli {
namespace {

options with(command_kind c, int relay = 0)
{
    options o;
    o.command = c;
    o.relay = relay;
    return o;
}

struct plan_case {
    options opts;
    std::optional<relay_statuses> current;
    std::optional<command_tuple> expected;
};

class plan : public ::testing::TestWithParam<plan_case> {};
void PrintTo(const plan_case& c, std::ostream* os)
{
    *os << "command " << static_cast<int>(c.opts.command) << " relay " << c.opts.relay;
}

TEST_P(plan, sends_the_tuple_the_panel_would)
{
    const auto got = command_for(GetParam().opts, GetParam().current);
    ASSERT_EQ(got.has_value(), GetParam().expected.has_value());
    if (got) {
        EXPECT_EQ(*got, *GetParam().expected);
    }
}

constexpr std::uint8_t on = action_on;
constexpr std::uint8_t off = action_off;

INSTANTIATE_TEST_SUITE_P(
    table, plan,
    ::testing::Values(plan_case{with(command_kind::status), std::nullopt, std::nullopt},
                      plan_case{with(command_kind::status), relay_statuses{1, 1, 1, 1}, std::nullopt},
                      plan_case{with(command_kind::on, 1), std::nullopt, command_tuple{1, {on, 0, 0, 0}}},
                      plan_case{with(command_kind::on, 4), std::nullopt, command_tuple{1, {0, 0, 0, on}}},
                      plan_case{with(command_kind::off, 2), std::nullopt, command_tuple{1, {0, off, 0, 0}}},
                      plan_case{with(command_kind::off, 3), std::nullopt, command_tuple{1, {0, 0, off, 0}}},
                      plan_case{with(command_kind::all_on), std::nullopt, command_tuple{1, {on, on, on, on}}},
                      plan_case{with(command_kind::all_off), std::nullopt, command_tuple{1, {off, off, off, off}}},
                      // Toggle turns the relay the other way and leaves the rest alone.
                      plan_case{with(command_kind::toggle, 2), relay_statuses{1, 2, 1, 1}, command_tuple{1, {0, off, 0, 0}}},
                      plan_case{with(command_kind::toggle, 2), relay_statuses{2, 1, 2, 2}, command_tuple{1, {0, on, 0, 0}}},
                      plan_case{with(command_kind::toggle, 4), relay_statuses{0, 0, 0, 1}, command_tuple{1, {0, 0, 0, on}}},
                      // ... and does nothing it cannot justify.
                      plan_case{with(command_kind::toggle, 1), std::nullopt, std::nullopt},
                      plan_case{with(command_kind::toggle, 1), relay_statuses{0, 1, 1, 1}, std::nullopt},
                      plan_case{with(command_kind::toggle, 1), relay_statuses{3, 1, 1, 1}, std::nullopt},
                      // A pulse starts by switching its relay on, a cycle by switching it off.
                      plan_case{with(command_kind::pulse, 2), std::nullopt, command_tuple{1, {0, on, 0, 0}}},
                      plan_case{with(command_kind::cycle, 3), relay_statuses{1, 1, 1, 1}, command_tuple{1, {0, 0, off, 0}}}));

TEST(plan, a_pulse_ends_off_and_a_cycle_on_and_nothing_else_has_a_final_step)
{
    EXPECT_EQ(final_step_for(with(command_kind::pulse, 2)), (command_tuple{1, {0, off, 0, 0}}));
    EXPECT_EQ(final_step_for(with(command_kind::cycle, 4)), (command_tuple{1, {0, 0, 0, on}}));
    for (const auto kind : {command_kind::status, command_kind::on, command_kind::off, command_kind::toggle,
                            command_kind::all_on, command_kind::all_off, command_kind::watch})
        EXPECT_FALSE(final_step_for(with(kind, 1))) << command_word(kind);
}

struct confirm_case {
    command_tuple sent;
    relay_statuses reported;
    bool confirmed;
};

class confirmation : public ::testing::TestWithParam<confirm_case> {};
void PrintTo(const confirm_case& c, std::ostream* os)
{
    *os << "sent " << describe_command(c.sent) << ", reported";
    for (const auto s : c.reported)
        *os << ' ' << int(s);
}

TEST_P(confirmation, needs_every_switched_relay_in_its_new_state)
{
    EXPECT_EQ(confirms(GetParam().sent, GetParam().reported), GetParam().confirmed);
}

INSTANTIATE_TEST_SUITE_P(
    table, confirmation,
    ::testing::Values(confirm_case{{1, {0, on, 0, 0}}, {1, 2, 1, 1}, true},
                      confirm_case{{1, {0, on, 0, 0}}, {2, 2, 0, 9}, true},  // others may be anything
                      confirm_case{{1, {0, on, 0, 0}}, {1, 1, 1, 1}, false},
                      confirm_case{{1, {0, on, 0, 0}}, {2, 0, 2, 2}, false},  // unknown is not on
                      confirm_case{{1, {off, 0, 0, 0}}, {1, 2, 2, 2}, true},
                      confirm_case{{1, {off, 0, 0, 0}}, {2, 1, 1, 1}, false},
                      confirm_case{{1, {on, on, on, on}}, {2, 2, 2, 2}, true},
                      confirm_case{{1, {on, on, on, on}}, {2, 2, 2, 1}, false},
                      confirm_case{{1, {off, off, off, off}}, {1, 1, 1, 1}, true},
                      confirm_case{{1, {off, off, off, off}}, {2, 1, 1, 1}, false}));

struct interval_case {
    int timeout_ms;
    int interval_ms;
};

class interval : public ::testing::TestWithParam<interval_case> {};
void PrintTo(const interval_case& c, std::ostream* os) { *os << "timeout " << c.timeout_ms << " ms"; }

TEST_P(interval, is_a_tenth_of_a_second_unless_the_timeout_is_short)
{
    EXPECT_EQ(query_interval_ms(GetParam().timeout_ms), GetParam().interval_ms);
}

INSTANTIATE_TEST_SUITE_P(table, interval,
                         ::testing::Values(interval_case{1, 10}, interval_case{50, 10}, interval_case{100, 20},
                                           interval_case{250, 50}, interval_case{500, 100},
                                           interval_case{1000, 100}, interval_case{3600000, 100}));

struct describe_case {
    command_tuple command;
    std::string words;
};

class description : public ::testing::TestWithParam<describe_case> {};
void PrintTo(const describe_case& c, std::ostream* os) { *os << c.words; }

TEST_P(description, says_what_was_asked) { EXPECT_EQ(describe_command(GetParam().command), GetParam().words); }

INSTANTIATE_TEST_SUITE_P(table, description,
                         ::testing::Values(describe_case{{1, {0, on, 0, 0}}, "switch relay 2 on"},
                                           describe_case{{1, {off, 0, 0, 0}}, "switch relay 1 off"},
                                           describe_case{{1, {on, on, on, on}}, "switch all relays on"},
                                           describe_case{{1, {off, off, off, off}}, "switch all relays off"},
                                           describe_case{{1, {on, 0, off, 0}}, "switch relay 1 on, relay 3 off"},
                                           describe_case{{0, {0, 0, 0, 0}}, "leave every relay as it is"}));

}  // namespace
}  // namespace relay::cli
