// What the board core does on its own clock: the timed steps of pulses and
// cycles, commands that replace them, the interlock's break before make and
// its correction, and the restore after a silence. Each case drives one core
// against a board that carries out every frame and answers after each tick,
// and checks the log of frames written and ends told, tick by tick.

#include "core_rig.h"

#include <functional>
#include <ostream>

namespace relay::testing {
namespace {

using namespace std::chrono_literals;

class timed_rig;

// A sender whose ends go to the rig's log under a name.
struct logging_sender : board_core::sender {
    logging_sender(timed_rig& rig, std::string name) : rig(rig), name(std::move(name)) {}
    void command_finished(command_id id, const command_result& result) override;
    timed_rig& rig;
    std::string name;
};

class timed_rig : public core_rig, private board_core::listener {
public:
    timed_rig() { board.add_listener(this); }
    ~timed_rig() { board.remove_listener(this); }

    // One tick; the board carries out what it obeys of the frames written,
    // then answers unless it is silent.
    void step(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            const auto written_before = device.written.size();
            ++ticks;
            board.tick();
            for (auto k = written_before; k < device.written.size(); ++k) {
                std::uint8_t address = 0;
                command_tuple command;
                if (!decode_command(device.written[k], address, command) || command.code != code_set_relays)
                    continue;
                note("sent " + describe_command(command));
                for (std::size_t r = 0; r < command.actions.size() && obeys; ++r)
                    if (command.actions[r] != action_leave)
                        shown[r] = command.actions[r] == action_on ? status_on : status_off;
            }
            if (answers)
                answer(shown);
        }
    }

    void note(const std::string& what) { log.push_back("t" + std::to_string(ticks) + " " + what); }

    relay_statuses shown{status_off, status_off, status_off, status_off};
    bool obeys = true;
    bool answers = true;
    bool log_pending = false;
    int ticks = 0;
    std::vector<std::string> log;
    logging_sender a{*this, "a"};
    logging_sender b{*this, "b"};

private:
    void mailbox_command_finished(const command_result& result) override { ended("window", result); }
    void warning(const std::string&) override { note("warning"); }
    void notice(const std::string&) override { note("notice"); }
    void pending_steps_changed() override
    {
        if (!log_pending)
            return;
        std::string steps = "pending";
        for (const auto& s : board.pending_steps())
            steps += " " + std::to_string(s.relay) + (s.final_state == relay_state::on ? ">on " : ">off ") +
                     std::to_string(s.time_left.count());
        note(steps);
    }

public:
    void ended(const std::string& who, const command_result& result)
    {
        static const char* const ends[] = {"confirmed", "refused",  "no_answer",
                                           "port_gone", "not_sent", "replaced", "interlocked"};
        note(who + " " + ends[static_cast<int>(result.how)] + " " + describe_command(result.command));
    }
};

void logging_sender::command_finished(command_id, const command_result& result) { rig.ended(name, result); }

constexpr relay_statuses all_off{status_off, status_off, status_off, status_off};

struct timed_case {
    std::string name;
    switch_rules rules;
    relay_statuses start;
    std::function<void(timed_rig&)> act;
    std::vector<std::string> log;
};

std::ostream& operator<<(std::ostream& os, const timed_case& c) { return os << c.name; }

class timed_steps : public ::testing::TestWithParam<timed_case> {};

TEST_P(timed_steps, frames_and_ends_tick_by_tick)
{
    const auto& c = GetParam();
    timed_rig rig;
    rig.board.set_rules(c.rules);
    rig.shown = c.start;
    ASSERT_TRUE(rig.connect());
    // The board has told its state once before anything is asked.
    rig.answer(rig.shown);
    c.act(rig);
    EXPECT_EQ(rig.log, c.log);
}

const switch_rules one_and_three{{{1, 3}}, restore_policy::leave};
const switch_rules one_and_two{{{1, 2}}, restore_policy::leave};
const relay_statuses three_on{status_off, status_off, status_on, status_off};
const relay_statuses two_on{status_off, status_on, status_off, status_off};

// The board stops answering long enough for the watchdog, loses power and
// comes back with every relay off.
void power_loss(timed_rig& r)
{
    r.answers = false;
    r.step(watchdog_reload + 3);
    r.shown = all_off;
    r.answers = true;
}

// Relay 2 timed for sender a, `before` ticks, a power loss, `after` ticks.
std::function<void(timed_rig&)> timed_through_power_loss(command_kind kind, std::chrono::milliseconds length,
                                                         int before, int after)
{
    return [=](timed_rig& r) {
        ASSERT_TRUE(r.board.queue_timed(kind, 2, length, &r.a));
        r.step(before);
        power_loss(r);
        r.step(after);
    };
}

INSTANTIATE_TEST_SUITE_P(
    core, timed_steps,
    ::testing::Values(
        timed_case{"pulse_goes_off_on_the_fifth_tick_for_500ms", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 500ms, &r.a));
                       r.step(10);
                   },
                   {"t1 sent switch relay 2 on", "t6 sent switch relay 2 off", "t6 a confirmed switch relay 2 off"}},
        timed_case{"a_duration_between_ticks_waits_for_the_next", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 4, 150ms, &r.a));
                       r.step(5);
                   },
                   {"t1 sent switch relay 4 on", "t3 sent switch relay 4 off", "t3 a confirmed switch relay 4 off"}},
        timed_case{"cycle_is_off_then_on_and_says_what_is_pending", {}, two_on,
                   [](timed_rig& r) {
                       r.log_pending = true;
                       ASSERT_TRUE(r.board.queue_timed(command_kind::cycle, 2, 300ms, &r.a));
                       r.step(6);
                   },
                   {"t1 pending 2>on 300", "t1 sent switch relay 2 off", "t4 sent switch relay 2 on", "t4 pending",
                    "t4 a confirmed switch relay 2 on"}},
        timed_case{"an_on_for_the_relay_replaces_the_pending_off", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 1s, &r.a));
                       r.step(3);
                       ASSERT_TRUE(r.board.queue_command(single_relay(2, action_on), &r.b));
                       r.step(15);
                   },
                   {"t1 sent switch relay 2 on", "t3 a replaced switch relay 2 off", "t4 sent switch relay 2 on",
                    "t4 b confirmed switch relay 2 on"}},
        timed_case{"all_off_replaces_every_pending_step", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 1, 1s, &r.a));
                       ASSERT_TRUE(r.board.queue_timed(command_kind::cycle, 3, 1s, &r.a));
                       r.step(3);
                       ASSERT_TRUE(r.board.queue_command(all_relays(action_off), &r.b));
                       r.step(15);
                   },
                   {"t1 sent switch relay 1 on", "t2 sent switch relay 3 off", "t3 a replaced switch relay 1 off",
                    "t3 a replaced switch relay 3 on", "t4 sent switch all relays off",
                    "t4 b confirmed switch all relays off"}},
        timed_case{"another_pulse_replaces_the_first_and_keeps_its_own_time", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 1s, &r.a));
                       r.step(3);
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 300ms, &r.b));
                       r.step(15);
                   },
                   {"t1 sent switch relay 2 on", "t3 a replaced switch relay 2 off", "t4 sent switch relay 2 on",
                    "t7 sent switch relay 2 off", "t7 b confirmed switch relay 2 off"}},
        timed_case{"a_pulse_not_yet_sent_is_replaced_and_never_goes_out", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 1s, &r.a));
                       r.board.set_mailbox(single_relay(2, action_off));
                       r.step(15);
                   },
                   {"t0 a replaced switch relay 2 off", "t1 sent switch relay 2 off",
                    "t1 window confirmed switch relay 2 off"}},
        timed_case{"another_relay_and_the_window_leave_the_step_alone", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 500ms, &r.a));
                       r.step(2);
                       ASSERT_TRUE(r.board.queue_command(single_relay(3, action_on), &r.b));
                       r.board.set_mailbox(single_relay(4, action_on));
                       r.step(8);
                   },
                   {"t1 sent switch relay 2 on", "t3 sent switch relay 4 on", "t3 window confirmed switch relay 4 on",
                    "t4 sent switch relay 3 on", "t4 b confirmed switch relay 3 on", "t6 sent switch relay 2 off",
                    "t6 a confirmed switch relay 2 off"}},
        timed_case{"settling_sends_every_final_state_in_one_frame", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 1, 20s, &r.a));
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 4, 10s, &r.b));
                       r.step(3);
                       r.board.settle_pending_now();
                       r.step(2);
                   },
                   {"t1 sent switch relay 1 on", "t2 sent switch relay 4 on", "t4 sent switch relay 1 off, relay 4 off",
                    "t4 a confirmed switch relay 1 off", "t4 b confirmed switch relay 4 off"}},
        timed_case{"a_resumed_step_that_is_due_waits_for_the_board_to_answer", {}, two_on,
                   [](timed_rig& r) {
                       r.answers = false;
                       r.step(watchdog_reload + 1);
                       r.board.resume_step(2, relay_state::off, 0ms);
                       r.step(2);
                       r.answers = true;
                       r.step(2);
                   },
                   {"t10 sent switch relay 2 off"}},
        timed_case{"a_resumed_step_keeps_its_time_left", {}, all_off,
                   [](timed_rig& r) {
                       r.board.resume_step(3, relay_state::on, 350ms);
                       r.step(6);
                   },
                   {"t4 sent switch relay 3 on"}},
        timed_case{"a_resumed_step_is_held_no_longer_than_a_step_may_last", {}, all_off,
                   [](timed_rig& r) {
                       r.log_pending = true;
                       r.board.resume_step(2, relay_state::off, std::chrono::milliseconds::max());
                       r.board.resume_step(3, relay_state::on, -1h);
                       r.step(1);
                   },
                   {"t0 pending 2>off 86400000", "t0 pending 2>off 86400000 3>on 0", "t1 sent switch relay 3 on",
                    "t1 pending 2>off 86399900"}},
        timed_case{"the_last_step_waits_out_a_silence_and_goes_when_answered", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 300ms, &r.a));
                       r.step(1);
                       r.answers = false;
                       r.step(8);
                       r.answers = true;
                       r.step(2);
                   },
                   // Sent while the watchdog still ran, never proven, so sent again.
                   {"t1 sent switch relay 2 on", "t4 sent switch relay 2 off", "t11 sent switch relay 2 off",
                    "t11 a confirmed switch relay 2 off"}},
        timed_case{"a_refused_first_step_ends_the_pulse_with_nothing_more_sent", {}, all_off,
                   [](timed_rig& r) {
                       r.obeys = false;
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 2, 300ms, &r.a));
                       r.step(8);
                   },
                   {"t1 sent switch relay 2 on", "t3 a refused switch relay 2 on"}},
        timed_case{"interlock_switches_the_other_off_a_tick_before", one_and_three, three_on,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_command(single_relay(1, action_on), &r.a));
                       r.step(4);
                   },
                   {"t1 sent switch relay 3 off", "t2 sent switch relay 1 on", "t2 a confirmed switch relay 1 on"}},
        timed_case{"interlock_breaks_before_the_window_too", one_and_three, three_on,
                   [](timed_rig& r) {
                       r.board.set_mailbox(single_relay(1, action_on));
                       r.step(4);
                   },
                   {"t1 sent switch relay 3 off", "t2 sent switch relay 1 on",
                    "t2 window confirmed switch relay 1 on"}},
        timed_case{"interlock_waits_for_the_board_to_prove_the_off", one_and_three, three_on,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_command(single_relay(1, action_on), &r.a));
                       r.answers = false;
                       r.step(3);
                       r.answers = true;
                       r.step(3);
                   },
                   {"t1 sent switch relay 3 off", "t5 sent switch relay 1 on", "t5 a confirmed switch relay 1 on"}},
        timed_case{"interlock_never_switches_on_while_the_board_keeps_the_other_on", one_and_three, three_on,
                   [](timed_rig& r) {
                       r.obeys = false;
                       ASSERT_TRUE(r.board.queue_command(single_relay(1, action_on), &r.a));
                       r.step(6);
                   },
                   {"t1 sent switch relay 3 off", "t4 a refused switch relay 1 on"}},
        timed_case{"interlock_refuses_all_on_with_nothing_sent", one_and_three, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_command(all_relays(action_on), &r.a));
                       r.board.set_mailbox(all_relays(action_on));
                       r.step(3);
                   },
                   {"t1 a interlocked switch all relays on", "t1 window interlocked switch all relays on"}},
        timed_case{"interlock_allows_all_on_without_groups", {}, all_off,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_command(all_relays(action_on), &r.a));
                       r.step(2);
                   },
                   {"t1 sent switch all relays on", "t1 a confirmed switch all relays on"}},
        timed_case{"a_pulse_breaks_before_it_makes", one_and_three, three_on,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::pulse, 1, 300ms, &r.a));
                       r.step(6);
                   },
                   {"t1 sent switch relay 3 off", "t2 sent switch relay 1 on", "t5 sent switch relay 1 off",
                    "t5 a confirmed switch relay 1 off"}},
        timed_case{"a_cycle_coming_back_on_breaks_what_went_on_meanwhile", one_and_two,
                   relay_statuses{status_on, status_off, status_off, status_off},
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::cycle, 1, 500ms, &r.a));
                       r.step(2);
                       ASSERT_TRUE(r.board.queue_command(single_relay(2, action_on), &r.b));
                       r.step(8);
                   },
                   {"t1 sent switch relay 1 off", "t3 sent switch relay 2 on", "t3 b confirmed switch relay 2 on",
                    "t6 sent switch relay 2 off", "t7 sent switch relay 1 on", "t7 a confirmed switch relay 1 on"}},
        timed_case{"two_of_a_group_reported_on_are_switched_off_and_told_once", one_and_three,
                   relay_statuses{status_on, status_off, status_on, status_off},
                   [](timed_rig& r) { r.step(4); },
                   {"t0 warning", "t1 sent switch relay 1 off, relay 3 off"}},
        timed_case{"restore_last_puts_back_what_was_confirmed", {{}, restore_policy::last}, two_on,
                   [](timed_rig& r) {
                       r.step(2);
                       power_loss(r);
                       r.step(2);
                   },
                   {"t11 notice", "t12 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off"}},
        timed_case{"restore_off_switches_all_off", {{}, restore_policy::off}, two_on,
                   [](timed_rig& r) {
                       r.step(2);
                       r.answers = false;
                       r.step(watchdog_reload + 3);
                       r.answers = true;
                       r.step(2);
                   },
                   {"t11 notice", "t12 sent switch all relays off"}},
        timed_case{"restore_leave_sends_nothing", {{}, restore_policy::leave}, two_on,
                   [](timed_rig& r) {
                       r.step(2);
                       power_loss(r);
                       r.step(2);
                   },
                   {}},
        timed_case{"restore_last_keeps_the_interlock", {{{1, 2}}, restore_policy::last}, two_on,
                   [](timed_rig& r) {
                       r.step(2);
                       power_loss(r);
                       r.shown = relay_statuses{status_on, status_off, status_off, status_off};
                       r.step(3);
                   },
                   {"t11 notice", "t12 sent switch relay 1 off",
                    "t13 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off"}},
        // A relay whose timed step fell due in the silence goes straight to
        // the step's final state in the restore frame, which also proves the
        // step: never back to its first state for a moment.
        timed_case{"restore_last_puts_a_pulse_due_in_the_silence_straight_off", {{}, restore_policy::last}, all_off,
                   timed_through_power_loss(command_kind::pulse, 1s, 2, 4),
                   {"t1 sent switch relay 2 on", "t11 notice", "t12 sent switch all relays off",
                    "t12 a confirmed switch relay 2 off"}},
        timed_case{"restore_last_puts_a_cycle_due_in_the_silence_straight_on", {{}, restore_policy::last}, two_on,
                   timed_through_power_loss(command_kind::cycle, 1s, 2, 4),
                   {"t1 sent switch relay 2 off", "t11 notice",
                    "t12 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off",
                    "t12 a confirmed switch relay 2 on"}},
        timed_case{"restore_last_keeps_a_pulse_not_yet_due_on_until_its_time", {{}, restore_policy::last}, all_off,
                   timed_through_power_loss(command_kind::pulse, 3s, 2, 22),
                   {"t1 sent switch relay 2 on", "t11 notice",
                    "t12 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off", "t31 sent switch relay 2 off",
                    "t31 a confirmed switch relay 2 off"}},
        timed_case{"restore_last_puts_a_pulse_not_yet_proven_on_as_its_step_has_it", {{}, restore_policy::last},
                   all_off,
                   timed_through_power_loss(command_kind::pulse, 3s, 0, 24),
                   {"t1 sent switch relay 2 on", "t9 notice",
                    "t10 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off", "t31 sent switch relay 2 off",
                    "t31 a confirmed switch relay 2 off"}},
        timed_case{"restore_last_with_a_due_cycle_keeps_the_interlock", {{{1, 2}}, restore_policy::last},
                   relay_statuses{status_on, status_off, status_off, status_off},
                   timed_through_power_loss(command_kind::cycle, 1s, 2, 4),
                   {"t1 sent switch relay 2 off", "t11 notice", "t12 sent switch all relays off",
                    "t13 sent switch relay 2 on", "t13 a confirmed switch relay 2 on"}},
        timed_case{"restore_off_still_ends_a_due_cycle_on", {{}, restore_policy::off}, two_on,
                   timed_through_power_loss(command_kind::cycle, 1s, 2, 4),
                   {"t1 sent switch relay 2 off", "t11 notice",
                    "t12 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off",
                    "t12 a confirmed switch relay 2 on"}},
        timed_case{"restore_off_a_due_cycle_the_board_does_not_take_is_refused", {{}, restore_policy::off}, two_on,
                   [](timed_rig& r) {
                       ASSERT_TRUE(r.board.queue_timed(command_kind::cycle, 2, 1s, &r.a));
                       r.step(2);
                       power_loss(r);
                       r.obeys = false;
                       r.step(5);
                   },
                   {"t1 sent switch relay 2 off", "t11 notice",
                    "t12 sent switch relay 1 off, relay 2 on, relay 3 off, relay 4 off",
                    "t14 a refused switch relay 2 on"}},
        timed_case{"restore_off_leaves_a_cycle_not_yet_due_off_until_its_time", {{}, restore_policy::off}, two_on,
                   timed_through_power_loss(command_kind::cycle, 3s, 2, 22),
                   {"t1 sent switch relay 2 off", "t11 notice", "t12 sent switch all relays off",
                    "t31 sent switch relay 2 on", "t31 a confirmed switch relay 2 on"}},
        timed_case{"restore_off_ends_a_pulse_not_yet_due_at_once", {{}, restore_policy::off}, all_off,
                   timed_through_power_loss(command_kind::pulse, 3s, 2, 22),
                   {"t1 sent switch relay 2 on", "t11 notice", "t12 sent switch all relays off",
                    "t12 a confirmed switch relay 2 off"}}),
    [](const auto& info) { return info.param.name; });

// What the core refuses to time at all: faces check first, so nothing here
// may reach the line.
TEST(timed_steps_bounds, out_of_range_requests_are_not_queued)
{
    struct bad {
        command_kind kind;
        int relay;
        std::chrono::milliseconds duration;
    };
    const bad cases[] = {{command_kind::pulse, 2, 99ms},   {command_kind::cycle, 2, max_step_duration + 1ms},
                         {command_kind::pulse, 0, 500ms},  {command_kind::pulse, 5, 500ms},
                         {command_kind::on, 2, 500ms},     {command_kind::cycle, 1, 0ms}};
    core_rig rig;
    ASSERT_TRUE(rig.connect());
    for (const auto& c : cases)
        EXPECT_FALSE(rig.board.queue_timed(c.kind, c.relay, c.duration, nullptr))
            << command_word(c.kind) << " " << c.relay << " " << c.duration.count();
    EXPECT_TRUE(rig.board.queue_timed(command_kind::pulse, 2, min_step_duration, nullptr));
    EXPECT_TRUE(rig.board.queue_timed(command_kind::cycle, 3, max_step_duration, nullptr));
}

}  // namespace
}  // namespace relay::testing
