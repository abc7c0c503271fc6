// The board core's timed steps, its interlock and its restore after a
// silence: what the owner does on its own, tick by tick, to keep the
// promises its rules make whoever asks.

#include "core/board_core.h"

#include <algorithm>

namespace relay {
namespace {

// Every time here lies within what a step may last, so that the count of
// ticks always fits.
std::chrono::milliseconds step_bounded(std::chrono::milliseconds time)
{
    return std::clamp(time, std::chrono::milliseconds{0}, max_step_duration);
}

int ticks_for(std::chrono::milliseconds time)
{
    // The first tick at or after the time.
    return static_cast<int>((step_bounded(time) + poll_period - std::chrono::milliseconds{1}) / poll_period);
}

std::string states_words(const relay_states& states)
{
    std::string words;
    for (std::size_t i = 0; i < states.size(); ++i)
        words += (i == 0 ? "" : " ") + std::to_string(i + 1) + "=" +
                 (states[i] == relay_state::on ? "on" : states[i] == relay_state::off ? "off" : "unknown");
    return words;
}

}  // namespace

std::optional<command_id> board_core::queue_timed(command_kind kind, int relay, std::chrono::milliseconds duration,
                                                  sender* from)
{
    if ((kind != command_kind::pulse && kind != command_kind::cycle) || !is_relay_index(relay) ||
        duration < min_step_duration || duration > max_step_duration)
        return std::nullopt;
    if (client_queue.size() >= client_queue_capacity)
        return std::nullopt;
    const bool pulse = kind == command_kind::pulse;
    const auto first = single_relay(relay, pulse ? action_on : action_off);
    replace_steps(first);
    const auto id = next_id++;
    timed_request t;
    t.id = id;
    t.from = from;
    t.relay = relay;
    t.ends_on = !pulse;
    t.duration_ticks = std::max(1, ticks_for(duration));
    timed.push_back(t);
    client_queue.push_back({first, id, nullptr, true});
    return id;
}

std::vector<pending_step> board_core::pending_steps() const
{
    std::vector<pending_step> steps;
    for (const auto& t : timed)
        if (t.now != timed_request::phase::queued)
            steps.push_back({t.relay, t.ends_on ? relay_state::on : relay_state::off,
                             poll_period * std::max(0, t.ticks_left), poll_period * t.duration_ticks});
    return steps;
}

void board_core::resume_step(int relay, relay_state final_state, std::chrono::milliseconds time_left)
{
    if (!is_relay_index(relay) || final_state == relay_state::unknown)
        return;
    replace_steps(single_relay(relay, action_on));
    timed_request t;
    t.id = next_id++;
    t.relay = relay;
    t.ends_on = final_state == relay_state::on;
    // A clock that came up wrong or a file edited by hand must not hold the
    // relay for longer than any step may.
    t.ticks_left = ticks_for(step_bounded(time_left));
    t.duration_ticks = t.ticks_left;
    t.now = timed_request::phase::running;
    timed.push_back(t);
    tell([](listener& l) { l.pending_steps_changed(); });
}

void board_core::settle_pending_now()
{
    for (auto& t : timed)
        if (t.now == timed_request::phase::running || t.now == timed_request::phase::first_on_line)
            t.ticks_left = 0;
}

board_core::timed_request* board_core::timed_of(command_id id)
{
    const auto it = std::find_if(timed.begin(), timed.end(), [id](const timed_request& t) { return t.id == id; });
    return it == timed.end() ? nullptr : &*it;
}

command_tuple board_core::last_step_of(const timed_request& t) const
{
    return single_relay(t.relay, t.ends_on ? action_on : action_off);
}

void board_core::count_down_steps()
{
    for (auto& t : timed)
        if ((t.now == timed_request::phase::running || t.now == timed_request::phase::first_on_line) &&
            t.ticks_left > 0)
            --t.ticks_left;
}

void board_core::end_timed(command_id id, command_result result)
{
    const auto it = std::find_if(timed.begin(), timed.end(), [id](const timed_request& t) { return t.id == id; });
    if (it == timed.end())
        return;
    const auto ended = *it;
    timed.erase(it);
    // Its first step may still wait in the queue or be on the line: the
    // line's goes on unowned, the queue's never goes out.
    client_queue.erase(std::remove_if(client_queue.begin(), client_queue.end(),
                                      [id](const queued_command& q) { return q.timed_first && q.id == id; }),
                       client_queue.end());
    for (auto& sent : in_flight) {
        if (sent.what == purpose::timed_first && sent.id == id)
            sent.what = purpose::own;
        sent.steps.erase(std::remove(sent.steps.begin(), sent.steps.end(), id), sent.steps.end());
    }
    if (ended.now != timed_request::phase::queued)
        tell([](listener& l) { l.pending_steps_changed(); });
    if (result.command.code != code_set_relays)
        result.command = last_step_of(ended);
    if (ended.from)
        ended.from->command_finished(ended.id, result);
}

void board_core::timed_first_ended(command_id id, const command_result& result)
{
    auto* t = timed_of(id);
    if (!t)
        return;
    // A board that answered and did not switch will not take the last step
    // either; one that went quiet may have switched, so the last step is
    // still owed once it answers.
    if (result.how == command_result::end::refused) {
        end_timed(id, result);
        return;
    }
    t->now = timed_request::phase::running;
}

void board_core::timed_last_ended(const std::vector<command_id>& steps, const command_result& result)
{
    for (const auto id : steps) {
        auto* t = timed_of(id);
        if (!t)
            continue;
        if (result.how == command_result::end::confirmed || result.how == command_result::end::refused) {
            auto own = result;
            own.command = last_step_of(*t);
            end_timed(id, own);
        } else {
            // Not proven either way: due again once the board answers.
            t->now = timed_request::phase::running;
            t->ticks_left = 0;
        }
    }
}

void board_core::replace_steps(const command_tuple& command)
{
    std::vector<command_id> replaced;
    for (const auto& t : timed)
        if (command.actions[static_cast<std::size_t>(t.relay - 1)] != action_leave)
            replaced.push_back(t.id);
    for (const auto id : replaced) {
        command_result result;
        result.how = command_result::end::replaced;
        result.why = "A later command for relay " + std::to_string(timed_of(id)->relay) +
                     " took over before its timed step.";
        end_timed(id, result);
    }
}

void board_core::tell_refusals()
{
    auto told = std::move(refusals);
    refusals.clear();
    for (const auto& r : told) {
        command_result result;
        result.how = command_result::end::interlocked;
        result.command = r.command;
        result.why = r.why;
        if (r.from_mailbox)
            tell([&](listener& l) { l.mailbox_command_finished(result); });
        else if (r.from)
            r.from->command_finished(r.id, result);
    }
}

void board_core::add_own(const command_tuple& command)
{
    if (!own_command)
        own_command = command_tuple{code_set_relays, {}};
    for (std::size_t i = 0; i < command.actions.size(); ++i)
        if (command.actions[i] != action_leave)
            own_command->actions[i] = command.actions[i];
}

void board_core::check_interlock(const relay_states& reported)
{
    bool violated = false;
    for (const auto& group : rules_.interlock_groups) {
        const auto on = std::count_if(group.begin(), group.end(), [&](int relay) {
            return is_relay_index(relay) && reported[static_cast<std::size_t>(relay - 1)] == relay_state::on;
        });
        if (on < 2)
            continue;
        violated = true;
        // Again after a correction the board did not take, but said once.
        const bool correcting = own_command || std::any_of(in_flight.begin(), in_flight.end(), [](const auto& c) {
                                    return c.what == purpose::own;
                                });
        if (!correcting) {
            command_tuple off{code_set_relays, {}};
            for (const int relay : group)
                if (is_relay_index(relay))
                    off.actions[static_cast<std::size_t>(relay - 1)] = action_off;
            add_own(off);
        }
        if (violation_told)
            continue;
        const auto text = "relays " + group_words(group) +
                          " are interlocked but the board reports more than one of them on (" +
                          states_words(reported) + "); switching them all off";
        tell([&](listener& l) { l.warning(text); });
    }
    // Told once until the board shows it put right, however many frames
    // arrive before the correction is proven.
    violation_told = violated;
}

void board_core::restore_after_silence()
{
    if (!confirmed_before || rules_.restore == restore_policy::leave)
        return;
    const bool all_off = rules_.restore == restore_policy::off;
    command_tuple back{code_set_relays, {}};
    for (std::size_t i = 0; i < back.actions.size(); ++i)
        back.actions[i] = all_off || (*confirmed_before)[i] != relay_state::on ? action_off : action_on;
    // A relay under a timed step goes where the step has it by now: one due
    // goes straight to its final state, since putting back the first for a
    // moment would operate a door or a gate a second time. Under `off` one
    // not yet due goes off all the same: that ends a pulse early, in the
    // state it ends in anyway, and leaves a cycle off until its time. A due
    // cycle still goes on: the operator asked for it explicitly, while the
    // policy is only the default for relays nobody has a plan for.
    bool steps_decide = false;
    for (const auto& t : timed) {
        if (t.now == timed_request::phase::queued)
            continue;
        const auto index = static_cast<std::size_t>(t.relay - 1);
        const auto final_action = last_step_of(t).actions[index];
        const bool due = t.now == timed_request::phase::last_on_line ||
                         (t.now == timed_request::phase::running && t.ticks_left == 0);
        const auto first_action = final_action == action_on ? action_off : action_on;
        const auto action = due ? final_action : all_off ? action_off : first_action;
        steps_decide = steps_decide || action != back.actions[index];
        back.actions[index] = action;
    }
    // Put back as one frame only what the interlock allows.
    for (const auto& group : rules_.interlock_groups) {
        auto one_group = command_tuple{code_set_relays, {}};
        for (const int relay : group) {
            const auto index = static_cast<std::size_t>(relay - 1);
            if (is_relay_index(relay))
                one_group.actions[index] = back.actions[index];
        }
        if (interlock_refusal(rules_, one_group))
            for (const int relay : group)
                if (is_relay_index(relay))
                    back.actions[static_cast<std::size_t>(relay - 1)] = action_off;
    }
    // A step whose final state the frame carries ends with it, proven by the
    // board like any other, and is not sent again.
    for (const auto& t : timed) {
        const auto index = static_cast<std::size_t>(t.relay - 1);
        if (t.now == timed_request::phase::running && back.actions[index] == last_step_of(t).actions[index])
            own_steps.push_back(t.id);
    }
    relay_states target{};
    for (std::size_t i = 0; i < target.size(); ++i)
        target[i] = back.actions[i] == action_on ? relay_state::on : relay_state::off;
    add_own(back);
    std::string text = "answering again after a silence; ";
    if (all_off && !steps_decide)
        text += "switching every relay off";
    else if (all_off)
        text += "switching every relay off but what due timed steps switch on: " + states_words(target);
    else
        text += std::string("putting back the relays as last confirmed") +
                (steps_decide ? ", those under a timed step as the step has them" : "") + ": " + states_words(target);
    tell([&](listener& l) { l.notice(text); });
}

}  // namespace relay
