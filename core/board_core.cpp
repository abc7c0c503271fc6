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

template <typename Call>
void board_core::tell(Call call)
{
    for_each_still_listed(listeners, call);
}

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

void board_core::set_mailbox(const command_tuple& command)
{
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
    client_queue.push_back({command, id, from});
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
}

void board_core::tick()
{
    if (!connection.connected)
        return;
    count_down_deadlines();
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

    if (mailbox.full) {
        // A command that never reached the line keeps waiting rather than
        // being reported as done; it goes out on the first tick that can
        // send it.
        const auto result = send(address, mailbox.command);
        if (result == send_result::sent || result == send_result::write_failed)
            mailbox.full = false;
        if (result == send_result::sent)
            in_flight.push_back({0, nullptr, true, confirmation(mailbox.command)});
        return;
    }
    if (!client_queue.empty()) {
        const auto next = client_queue.front();
        const auto result = send(address, next.command);
        if (result == send_result::port_closed)
            return;
        client_queue.pop_front();
        if (result == send_result::sent) {
            in_flight.push_back({next.id, next.from, false, confirmation(next.command)});
        } else if (next.from) {
            command_result failed;
            failed.command = next.command;
            failed.why = "The command could not be written to the port.";
            next.from->command_finished(next.id, failed);
        }
        return;
    }
    send(address, status_query);
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
    if (ended.from_mailbox)
        tell([&](listener& l) { l.mailbox_command_finished(result); });
    else if (ended.from)
        ended.from->command_finished(ended.id, result);
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
    board_health.answering = true;
    const bool changed = now != states_;
    states_ = now;
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
        if (!queued.from)
            continue;
        command_result result;
        result.command = queued.command;
        result.why = why;
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
