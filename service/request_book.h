#pragma once
// The requests a control socket has taken and not yet answered, and how
// each one ends: a status from the board's next status frame, a command
// from the board core's verdict on it. No socket here: whatever is decided
// goes out through the `answer` callback.

#include "core/board_core.h"
#include "core/command_audit.h"
#include "loop/io_loop.h"
#include "service/replies.h"
#include "service/request.h"


#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace relay {

// How long a status or a toggle waits for a status frame; a command on the
// line has the board core's deadline, which is the same.
constexpr std::chrono::milliseconds reply_deadline = command_deadline;

class request_book : private board_core::listener, private board_core::sender {
public:
    using client_id = std::uint64_t;
    using answer_fn = std::function<void(client_id, const std::string& line)>;
    // Where each command that asks a relay to change ends up, whether or
    // not its client is still there to hear the reply.
    using audit_fn =
        std::function<void(const std::string& command, const std::string& origin, const command_outcome& outcome)>;

    // Deadlines run on loop.
    request_book(io_loop& loop, board_core& board, answer_fn answer);
    ~request_book();
    request_book(const request_book&) = delete;
    request_book& operator=(const request_book&) = delete;

    // Takes a request other than watch; its reply comes through `answer`,
    // possibly before this returns. origin names the client in the audit.
    void take(client_id client, const request& r, const std::string& origin = {});
    // Forgets a client's requests; commands already queued still go out,
    // and are still audited.
    void forget(client_id client);
    void set_audit(audit_fn audit) { audited = std::move(audit); }
    std::size_t open_requests(client_id client) const;

    board_facts facts() const;
    // The board's relay names, carried in every reply.
    void set_names(const relay_names& names_) { names = names_; }

private:
    enum class stage { waiting_for_status, queued };
    struct entry {
        client_id client = 0;
        request asked;
        std::string origin;
        bool client_gone = false;
        command_tuple command{};
        stage now = stage::waiting_for_status;
    };

    void status_reported(const relay_states& states) override;
    void command_finished(command_id id, const command_result& result) override;

    void queue_command(std::uint64_t key, entry& e);
    void start_deadline(std::uint64_t key);
    void stop_deadline(std::uint64_t key);
    void deadline_passed(std::uint64_t key);
    void succeed(std::uint64_t key, const relay_statuses& reported);
    void fail(std::uint64_t key, reply_code code, const std::string& why,
              const std::optional<relay_statuses>& seen = std::nullopt);
    void finish(std::uint64_t key, const std::string& line, const command_outcome& outcome);
    void audit(const entry& e, const command_outcome& outcome) const;
    std::string port_gone_words() const;

    io_loop& loop;
    board_core& board;
    answer_fn answer;
    audit_fn audited;
    relay_names names{};
    std::map<std::uint64_t, entry> entries;
    // The board core's name for each queued command, and its entry's.
    std::map<command_id, std::uint64_t> queued;
    std::uint64_t next_key = 1;
    // The running deadline of each entry that waits for a status frame.
    std::map<std::uint64_t, io_loop::timer_id> deadlines;
};

}  // namespace relay
