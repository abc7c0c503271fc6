#include "core/board_core.h"

#include "core/still_listed.h"

#include <algorithm>

namespace relay {

const char* link_word(link_condition condition)
{
    switch (condition) {
    case link_condition::answering:
        return "answering";
    case link_condition::silent:
        return "silent";
    case link_condition::lost:
        return "lost";
    }
    return "lost";
}

board_core::board_core(serial_link& link) : link(link) { link.set_events(this); }

board_core::~board_core() { link.set_events(nullptr); }

void board_core::add_listener(listener* l)
{
    if (l && std::find(listeners.begin(), listeners.end(), l) == listeners.end())
        listeners.push_back(l);
}

void board_core::remove_listener(listener* l)
{
    listeners.erase(std::remove(listeners.begin(), listeners.end(), l), listeners.end());
}

link_condition board_core::link_now() const
{
    if (!connection.connected || connection.port_lost)
        return link_condition::lost;
    return board_health.answering ? link_condition::answering : link_condition::silent;
}

void board_core::notify()
{
    const auto now = link_now();
    if (now != last_link) {
        const bool fell_silent = last_link == link_condition::answering && now == link_condition::silent;
        last_link = now;
        // A command on the line when the board fell silent or the port went
        // will hear no more frames.
        if (now == link_condition::lost)
            end_sent(command_result::end::port_gone, connection.lost_reason);
        else if (fell_silent)
            end_sent(command_result::end::no_answer, {});
        tell([now](listener& l) { l.link_changed(now); });
    }
    tell([](listener& l) { l.board_changed(); });
}

open_result board_core::connect(const std::string& port_text)
{
    if (link.port_is_open())
        return open_result::success();
    const auto result = link.open_port(port_text);
    if (!result.ok)
        return result;
    connection.connected = true;
    connection.port_lost = false;
    connection.lost_reason.clear();
    connection.port_text = port_text;
    forget_silence();
    board_health.bad_frames_since_valid = 0;
    board_health.any_valid_since_connect = false;
    board_health.answering = false;
    set_relays(all_unknown);
    tell([](listener& l) { l.connection_changed(true); });
    notify();
    return result;
}

void board_core::disconnect()
{
    // A lost port is already closed; disconnecting still has to stop the
    // retries and leave the connected state.
    if (!link.port_is_open() && !connection.port_lost)
        return;
    if (link.port_is_open())
        link.close_port();
    connection.connected = false;
    connection.port_lost = false;
    board_health.answering = false;
    set_relays(all_unknown);
    end_sent(command_result::end::port_gone, "Disconnected from the port.");
    drop_queued("Disconnected from the port before the command went out.");
    own_command.reset();
    own_steps.clear();
    confirmed_before.reset();
    failed_breaks = 0;
    tell_refusals();
    if (!timed.empty()) {
        command_result gone;
        gone.how = command_result::end::port_gone;
        gone.why = "Disconnected from the port before the timed step.";
        while (!timed.empty())
            end_timed(timed.front().id, gone);
    }
    tell([](listener& l) { l.connection_changed(false); });
    notify();
}

void board_core::set_address(std::optional<std::uint8_t> address)
{
    if (address == address_)
        return;
    address_ = address;
    notify();
}

void board_core::set_rules(const switch_rules& rules) { rules_ = rules; }

std::optional<std::string> board_core::interlock_refusal_of(const command_tuple& command) const
{
    return interlock_refusal(rules_, command);
}

void board_core::set_mailbox(const command_tuple& command)
{
    if (const auto why = interlock_refusal_of(command)) {
        refusals.push_back({0, nullptr, true, command, *why});
        return;
    }
    replace_steps(command);
    mailbox.command = command;
    mailbox.full = true;
}

void board_core::clear_mailbox()
{
    mailbox.command = {};
    mailbox.full = false;
}

std::optional<command_id> board_core::queue_command(const command_tuple& command, sender* from)
{
    if (client_queue.size() >= client_queue_capacity)
        return std::nullopt;
    const auto id = next_id++;
    if (const auto why = interlock_refusal_of(command)) {
        refusals.push_back({id, from, false, command, *why});
        return id;
    }
    replace_steps(command);
    client_queue.push_back({command, id, from, false});
    return id;
}

void board_core::forget_sender(sender* from)
{
    for (auto& queued : client_queue)
        if (queued.from == from)
            queued.from = nullptr;
    for (auto& sent : in_flight)
        if (sent.from == from)
            sent.from = nullptr;
    for (auto& t : timed)
        if (t.from == from)
            t.from = nullptr;
    for (auto& r : refusals)
        if (r.from == from)
            r.from = nullptr;
}

void board_core::tick()
{
    if (!connection.connected)
        return;
    tell_refusals();
    count_down_deadlines();
    count_down_steps();
    watchdog_tick();
    if (connection.port_lost)
        try_reopen();
    else
        reopen_if_silent();
    if (!connection.port_lost)
        send_next();
    notify();
}

void board_core::watchdog_tick()
{
    if (board_health.watchdog_count > 0) {
        --board_health.watchdog_count;
        return;
    }
    board_health.answering = false;
    set_relays(all_unknown);
}

void board_core::send_next()
{
    // Read afresh on every send: an address changed while connected applies
    // to the very next frame. Without one nothing is sent, and a waiting
    // command keeps waiting for a usable address.
    board_health.address_unusable = !address_;
    if (!address_)
        return;
    const auto address = *address_;
    // While a group's others are being switched off, nothing else may
    // switch one of them on: the board has to prove the off first.
    const bool breaking = std::any_of(in_flight.begin(), in_flight.end(),
                                      [](const in_flight_command& c) { return c.what == purpose::breaking; });
    const auto next = breaking ? std::nullopt : next_candidate();
    if (!next) {
        send(address, status_query);
        return;
    }
    if (const auto breaker = breaker_for(next->command)) {
        if (failed_breaks > 0) {
            failed_breaks = 0;
            command_result failed;
            failed.how = command_result::end::refused;
            failed.command = next->command;
            failed.why = "The other relays of its interlock group did not switch off first.";
            drop_candidate(*next, failed);
            send(address, status_query);
            return;
        }
        if (send(address, *breaker) == send_result::sent)
            in_flight.push_back({0, nullptr, purpose::breaking, confirmation(*breaker), command_deadline_ticks, {}});
        return;
    }
    failed_breaks = 0;
    send_candidate(address, *next);
}

std::optional<board_core::candidate> board_core::next_candidate() const
{
    if (own_command)
        return candidate{source::own, *own_command, {}};
    // The last steps due now go out together, so that settling them all
    // before stopping takes one frame.
    if (link_now() == link_condition::answering) {
        candidate due{source::due_steps, {code_set_relays, {}}, {}};
        for (const auto& t : timed) {
            if (t.now != timed_request::phase::running || t.ticks_left > 0)
                continue;
            const auto index = static_cast<std::size_t>(t.relay - 1);
            auto together = due.command;
            together.actions[index] = last_step_of(t).actions[index];
            // Two of a group on in one frame would break the interlock: the
            // later one waits a tick.
            if (interlock_refusal(rules_, together))
                continue;
            due.command = together;
            due.steps.push_back(t.id);
        }
        if (!due.steps.empty())
            return due;
    }
    if (mailbox.full)
        return candidate{source::mailbox, mailbox.command, {}};
    if (!client_queue.empty())
        return candidate{source::queue, client_queue.front().command, {}};
    return std::nullopt;
}

void board_core::send_candidate(std::uint8_t address, const candidate& next)
{
    const auto result = send(address, next.command);
    if (result == send_result::port_closed)
        return;
    const bool sent = result == send_result::sent;
    command_result failed;
    failed.command = next.command;
    failed.why = "The command could not be written to the port.";
    switch (next.from) {
    case source::own: {
        own_command.reset();
        const auto steps = std::move(own_steps);
        own_steps.clear();
        // Not written: the steps it carried stay due and go out on their own.
        if (!sent)
            return;
        in_flight.push_back({0, nullptr, purpose::own, confirmation(next.command), command_deadline_ticks, {}});
        // The steps end on their own relays alone, so that another relay the
        // board does not take cannot make them fail; an interlock correction
        // merged in after the restore may have taken a relay back.
        command_tuple carried{code_set_relays, {}};
        std::vector<command_id> ids;
        for (const auto id : steps) {
            auto* t = timed_of(id);
            if (!t || t->now != timed_request::phase::running)
                continue;
            const auto index = static_cast<std::size_t>(t->relay - 1);
            const auto action = last_step_of(*t).actions[index];
            if (next.command.actions[index] != action)
                continue;
            t->now = timed_request::phase::last_on_line;
            carried.actions[index] = action;
            ids.push_back(id);
        }
        if (!ids.empty())
            in_flight.push_back(
                {0, nullptr, purpose::timed_last, confirmation(carried), command_deadline_ticks, std::move(ids)});
        return;
    }
    case source::due_steps:
        if (sent) {
            for (const auto id : next.steps)
                if (auto* t = timed_of(id))
                    t->now = timed_request::phase::last_on_line;
            in_flight.push_back(
                {0, nullptr, purpose::timed_last, confirmation(next.command), command_deadline_ticks, next.steps});
        }
        // Not written: they stay due and go out on the next tick.
        return;
    case source::mailbox:
        // A command that never reached the line keeps waiting rather than
        // being reported as done; it goes out on the first tick that can
        // send it.
        mailbox.full = false;
        if (sent)
            in_flight.push_back({0, nullptr, purpose::mailbox, confirmation(next.command), command_deadline_ticks, {}});
        return;
    case source::queue: {
        const auto queued = client_queue.front();
        client_queue.pop_front();
        if (queued.timed_first) {
            if (sent) {
                if (auto* t = timed_of(queued.id)) {
                    t->now = timed_request::phase::first_on_line;
                    t->ticks_left = t->duration_ticks;
                }
                in_flight.push_back({queued.id, nullptr, purpose::timed_first, confirmation(queued.command),
                                     command_deadline_ticks, {}});
                tell([](listener& l) { l.pending_steps_changed(); });
            } else {
                end_timed(queued.id, failed);
            }
        } else if (sent) {
            in_flight.push_back(
                {queued.id, queued.from, purpose::client, confirmation(queued.command), command_deadline_ticks, {}});
        } else if (queued.from) {
            queued.from->command_finished(queued.id, failed);
        }
        return;
    }
    }
}

void board_core::drop_candidate(const candidate& next, const command_result& failed)
{
    switch (next.from) {
    case source::own:
        own_command.reset();
        own_steps.clear();
        return;
    case source::due_steps:
        timed_last_ended(next.steps, failed);
        return;
    case source::mailbox:
        mailbox.full = false;
        tell([&](listener& l) { l.mailbox_command_finished(failed); });
        return;
    case source::queue: {
        const auto queued = client_queue.front();
        client_queue.pop_front();
        if (queued.timed_first)
            end_timed(queued.id, failed);
        else if (queued.from)
            queued.from->command_finished(queued.id, failed);
        return;
    }
    }
}

bool board_core::may_be_on(int relay) const
{
    const auto index = static_cast<std::size_t>(relay - 1);
    if (states_[index] != relay_state::off)
        return true;
    return std::any_of(in_flight.begin(), in_flight.end(),
                       [&](const in_flight_command& c) { return c.rule.command().actions[index] == action_on; });
}

std::optional<command_tuple> board_core::breaker_for(const command_tuple& command) const
{
    command_tuple breaker{code_set_relays, {}};
    bool any = false;
    for (int relay = 1; relay <= relay_count; ++relay) {
        if (command.actions[static_cast<std::size_t>(relay - 1)] != action_on)
            continue;
        const auto* group = interlock_group_of(rules_, relay);
        if (!group)
            continue;
        for (const int other : *group) {
            if (other == relay || !is_relay_index(other) || !may_be_on(other))
                continue;
            breaker.actions[static_cast<std::size_t>(other - 1)] = action_off;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    return breaker;
}

send_result board_core::send(std::uint8_t address, const command_tuple& command)
{
    const auto result = link.send_frame(address, command);
    if (result == send_result::sent)
        --connection.frames_until_silent_reopen;
    return result;
}

void board_core::finish(std::size_t index, command_result result)
{
    const auto ended = std::move(in_flight[index]);
    in_flight.erase(in_flight.begin() + static_cast<std::ptrdiff_t>(index));
    result.command = ended.rule.command();
    if (!result.reported)
        result.reported = ended.rule.last_seen();
    switch (ended.what) {
    case purpose::client:
        if (ended.from)
            ended.from->command_finished(ended.id, result);
        return;
    case purpose::mailbox:
        tell([&](listener& l) { l.mailbox_command_finished(result); });
        return;
    case purpose::own:
        return;
    case purpose::breaking:
        failed_breaks = result.confirmed() ? 0 : failed_breaks + 1;
        return;
    case purpose::timed_first:
        timed_first_ended(ended.id, result);
        return;
    case purpose::timed_last:
        timed_last_ended(ended.steps, result);
        return;
    }
}

void board_core::end_sent(command_result::end how, const std::string& why)
{
    // Ending one may make its sender queue more: only those on the line now end.
    for (auto count = in_flight.size(); count > 0 && !in_flight.empty(); --count) {
        command_result result;
        result.how = how;
        result.why = why;
        finish(0, result);
    }
}

void board_core::count_down_deadlines()
{
    // Only a board silent since the send gets here: one that answers at
    // all settles the command within frames_before_refusal frames, and one
    // that falls silent has already ended it.
    for (std::size_t i = 0; i < in_flight.size();) {
        if (--in_flight[i].ticks_left > 0) {
            ++i;
            continue;
        }
        command_result result;
        result.how = command_result::end::no_answer;
        result.at_deadline = true;
        finish(i, result);
    }
}

void board_core::status_frame_received(const frame& rx)
{
    board_health.last_frame = rx;
    if (!is_valid_status(rx)) {
        ++board_health.bad_frames_since_valid;
        notify();
        return;
    }
    const auto statuses = decode_status(rx);
    auto now = states_;
    for (std::size_t i = 0; i < now.size(); ++i) {
        // A byte that is neither on nor off says nothing new of its relay.
        const auto reported = state_of_status(statuses[i]);
        if (reported != relay_state::unknown)
            now[i] = reported;
    }
    board_health.watchdog_count = watchdog_reload;
    forget_silence();
    board_health.bad_frames_since_valid = 0;
    board_health.any_valid_since_connect = true;
    const bool again = !board_health.answering;
    board_health.answering = true;
    const bool changed = now != states_;
    states_ = now;
    if (again)
        restore_after_silence();
    if (std::find(now.begin(), now.end(), relay_state::unknown) == now.end())
        confirmed_before = now;
    check_interlock(now);
    notify();

    // Commands are settled before the relays' change and the frame are
    // told, so that a socket client hears its reply before the watch event
    // that shows the same frame.
    const auto reported = statuses_of(states_);
    for (std::size_t i = 0; i < in_flight.size();) {
        const auto verdict = in_flight[i].rule.frame_after_send(reported);
        if (verdict == confirmation::verdict::waiting) {
            ++i;
            continue;
        }
        command_result result;
        result.how = verdict == confirmation::verdict::confirmed ? command_result::end::confirmed
                                                                  : command_result::end::refused;
        result.reported = reported;
        finish(i, result);
    }
    if (changed)
        tell([this](listener& l) { l.relays_changed(states_); });
    tell([this](listener& l) { l.status_reported(states_); });
}

void board_core::set_relays(const relay_states& now)
{
    if (now == states_)
        return;
    states_ = now;
    tell([this](listener& l) { l.relays_changed(states_); });
}

void board_core::reopen_if_silent()
{
    if (connection.frames_until_silent_reopen > 0)
        return;
    connection.frames_until_silent_reopen = silent_port_repeat_ticks;
    link.close_port();
    const auto result = link.open_port(connection.port_text);
    if (!result.ok) {
        link_lost(result.reason);
        return;
    }
    const int times = ++connection.silent_reopens;
    tell([times](listener& l) { l.silent_port_reopened(times); });
}

void board_core::forget_silence()
{
    connection.frames_until_silent_reopen = silent_port_reopen_ticks;
    connection.silent_reopens = 0;
}

void board_core::try_reopen()
{
    if (--connection.reopen_countdown > 0)
        return;
    ++connection.reopen_attempts;
    const auto result = link.open_port(connection.port_text);
    if (result.ok) {
        connection.port_lost = false;
        connection.lost_reason.clear();
        connection.reopen_attempts = 0;
        forget_silence();
    } else {
        connection.lost_reason = result.reason;
        connection.reopen_countdown = reopen_ticks;
    }
}

void board_core::drop_queued(const std::string& why)
{
    auto dropped = std::move(client_queue);
    client_queue.clear();
    for (const auto& queued : dropped) {
        command_result result;
        result.command = queued.command;
        result.why = why;
        if (queued.timed_first)
            end_timed(queued.id, result);
        else if (queued.from)
            queued.from->command_finished(queued.id, result);
    }
}

void board_core::link_lost(const std::string& reason)
{
    if (!connection.connected)
        return;
    connection.port_lost = true;
    connection.lost_reason = reason;
    connection.reopen_countdown = reopen_ticks;
    connection.reopen_attempts = 0;
    drop_queued(reason);
    notify();
}

}  // namespace relay
