#include "service/request_book.h"

#include <vector>

namespace relay {

request_book::request_book(io_loop& loop, board_core& board, answer_fn answer)
    : loop(loop), board(board), answer(std::move(answer))
{
    board.add_listener(this);
}

request_book::~request_book()
{
    for (const auto& [key, timer] : deadlines)
        loop.remove_timer(timer);
    board.forget_sender(this);
    board.remove_listener(this);
}

board_facts request_book::facts() const { return {board.port().path, board.address(), names}; }

std::string request_book::port_gone_words() const
{
    const auto& path = board.port().path;
    if (!board.connected())
        return "The board's port is not open: its owner is not connected.";
    return "The port " + path + " is not working; its owner is trying to reopen it.";
}

std::size_t request_book::open_requests(client_id client) const
{
    std::size_t count = 0;
    for (const auto& [key, e] : entries)
        if (e.client == client && !e.client_gone)
            ++count;
    return count;
}

void request_book::forget(client_id client)
{
    for (auto it = entries.begin(); it != entries.end();) {
        auto& e = it->second;
        if (e.client != client) {
            ++it;
        } else if (e.now == stage::waiting_for_status) {
            // Never queued: nothing of it reaches the board.
            stop_deadline(it->first);
            it = entries.erase(it);
        } else {
            // Goes out all the same, so its end is still audited.
            e.client_gone = true;
            ++it;
        }
    }
}

void request_book::take(client_id client, const request& r, const std::string& origin)
{
    const auto key = next_key++;
    entry e{client, r, origin, false, {}, stage::waiting_for_status};

    if (r.kind == command_kind::status) {
        if (board.link_now() == link_condition::answering) {
            answer(client, ok_reply(r.id, board.reported_statuses(), facts()));
            return;
        }
        entries.emplace(key, std::move(e));
        start_deadline(key);
        return;
    }

    if (const auto fixed = fixed_command(r.kind, r.relay))
        e.command = *fixed;
    // A command for a port that is gone would sit in the queue until the
    // port came back, long after its sender was told it failed.
    if (board.link_now() == link_condition::lost) {
        const auto why = port_gone_words();
        answer(client, error_reply(r.id, reply_code::port, why));
        audit(e, failed_because(why));
        return;
    }

    if (r.kind == command_kind::toggle) {
        const auto command = toggle_relay(r.relay, board.reported_statuses());
        if (!command) {
            entries.emplace(key, std::move(e));
            start_deadline(key);
            return;
        }
        e.command = *command;
    }
    auto& placed = entries.emplace(key, std::move(e)).first->second;
    queue_command(key, placed);
}

void request_book::queue_command(std::uint64_t key, entry& e)
{
    e.now = stage::queued;
    // The board core keeps the deadline from here on; a timed one's last
    // step may come a day later, and is answered only then.
    stop_deadline(key);
    // Answered at once rather than on the core's next tick.
    if (const auto why = board.interlock_refusal_of(e.command)) {
        fail(key, reply_code::interlock, *why);
        return;
    }
    const auto id = takes_duration(e.asked.kind)
                        ? board.queue_timed(e.asked.kind, e.asked.relay, e.asked.duration, this)
                        : board.queue_command(e.command, this);
    if (!id) {
        fail(key, reply_code::busy,
             "Too many commands are waiting for the board (" + std::to_string(client_queue_capacity) +
                 "); try again shortly.");
        return;
    }
    queued[*id] = key;
}

void request_book::start_deadline(std::uint64_t key)
{
    stop_deadline(key);
    deadlines[key] = loop.add_timer(reply_deadline, std::chrono::nanoseconds::zero(), [this, key] {
        deadlines.erase(key);
        deadline_passed(key);
    });
}

void request_book::stop_deadline(std::uint64_t key)
{
    const auto it = deadlines.find(key);
    if (it == deadlines.end())
        return;
    loop.remove_timer(it->second);
    deadlines.erase(it);
}

void request_book::deadline_passed(std::uint64_t key)
{
    if (entries.find(key) == entries.end())
        return;
    if (board.link_now() == link_condition::lost)
        fail(key, reply_code::port, port_gone_words());
    else
        fail(key, reply_code::timeout,
             "No valid answer from the board on " + board.port().path + " within " +
                 std::to_string(reply_deadline.count()) + " ms.");
}

void request_book::succeed(std::uint64_t key, const relay_statuses& reported)
{
    const auto it = entries.find(key);
    if (it != entries.end())
        finish(key, ok_reply(it->second.asked.id, reported, facts()), confirmed_by(reported));
}

void request_book::fail(std::uint64_t key, reply_code code, const std::string& why,
                        const std::optional<relay_statuses>& seen)
{
    const auto it = entries.find(key);
    if (it != entries.end())
        finish(key, error_reply(it->second.asked.id, code, why, seen), failed_because(why));
}

void request_book::finish(std::uint64_t key, const std::string& line, const command_outcome& outcome)
{
    const auto it = entries.find(key);
    if (it == entries.end())
        return;
    const auto e = std::move(it->second);
    entries.erase(it);
    stop_deadline(key);
    if (!e.client_gone)
        answer(e.client, line);
    audit(e, outcome);
}

void request_book::audit(const entry& e, const command_outcome& outcome) const
{
    // A status changes nothing; a toggle whose relay was never known never
    // became a command, but its asking is told all the same.
    if (!audited || e.asked.kind == command_kind::status || e.asked.kind == command_kind::watch)
        return;
    const auto relay = std::to_string(e.asked.relay);
    const auto command = takes_duration(e.asked.kind) ? describe_timed(e.asked.kind, e.asked.relay, e.asked.duration)
                         : e.command.code == code_set_relays ? describe_command(e.command)
                                                             : "toggle relay " + relay;
    audited(command, e.origin, outcome);
}

void request_book::command_finished(command_id id, const command_result& result)
{
    const auto found = queued.find(id);
    if (found == queued.end())
        return;
    const auto key = found->second;
    queued.erase(found);
    const auto it = entries.find(key);
    if (it == entries.end())
        return;
    const auto ms = std::to_string(reply_deadline.count());
    switch (result.how) {
    case command_result::end::confirmed:
        succeed(key, result.reported.value_or(relay_statuses{}));
        return;
    case command_result::end::refused:
        fail(key, reply_code::refused,
             "The board answered but did not " + describe_command(result.command) + ".",
             result.reported);
        return;
    case command_result::end::no_answer:
        fail(key, reply_code::timeout,
             result.at_deadline
                 ? "No valid answer from the board on " + board.port().path + " within " + ms + " ms."
                 : "The board fell silent before confirming the command.");
        return;
    case command_result::end::port_gone:
        fail(key, reply_code::port,
             "The port " + board.port().path + " went away before the board confirmed the command.");
        return;
    case command_result::end::not_sent:
        fail(key, reply_code::port, result.why);
        return;
    case command_result::end::replaced:
        fail(key, reply_code::refused, result.why, result.reported);
        return;
    case command_result::end::interlocked:
        fail(key, reply_code::interlock, result.why);
        return;
    }
}

void request_book::status_reported(const relay_states& states)
{
    const auto reported = statuses_of(states);
    // Answering may end entries; walk a copy of the keys.
    std::vector<std::uint64_t> keys;
    keys.reserve(entries.size());
    for (const auto& [key, e] : entries)
        if (e.now == stage::waiting_for_status)
            keys.push_back(key);

    for (const auto key : keys) {
        const auto it = entries.find(key);
        if (it == entries.end())
            continue;
        auto& e = it->second;
        if (e.asked.kind == command_kind::status) {
            succeed(key, reported);
            continue;
        }
        const auto command = toggle_relay(e.asked.relay, reported);
        if (!command)
            continue;
        e.command = *command;
        queue_command(key, e);
    }
}

}  // namespace relay
