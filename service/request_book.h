#pragma once
// The requests a control socket has taken and not yet answered, and how
// each one ends: from the board's status frames, the fate of its command in
// the controller's queue, and its deadline. No socket here: whatever is
// decided goes out through the `answer` callback.

#include "panel/command_audit.h"
#include "panel/panel_controller.h"
#include "service/replies.h"
#include "service/request.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace relay {

// How long the board has to prove a command once it is on the line, and how
// long a status or toggle waits for a status frame. A command waiting in the
// queue has no deadline of its own: the queue is bounded (64 commands,
// one per tick) and empties itself with a reason when the port goes, and a
// command told "timeout" must never go out afterwards.
constexpr std::chrono::milliseconds reply_deadline{2000};

class request_book : public QObject, private board_observer {
    Q_OBJECT
public:
    using client_id = std::uint64_t;
    using answer_fn = std::function<void(client_id, const QByteArray& line)>;
    // Where each command that asks a relay to change ends up, whether or
    // not its client is still there to hear the reply.
    using audit_fn =
        std::function<void(const std::string& command, const std::string& origin, const command_outcome& outcome)>;

    request_book(panel_controller& board, answer_fn answer, QObject* parent = nullptr);
    ~request_book() override;

    // Takes a request other than watch; its reply comes through `answer`,
    // possibly before this returns. origin names the client in the audit.
    void take(client_id client, const request& r, const std::string& origin = {});
    // Forgets a client's requests; commands already queued still go out,
    // and are still audited.
    void forget(client_id client);
    void set_audit(audit_fn audit) { audited = std::move(audit); }
    std::size_t open_requests(client_id client) const;

    board_facts facts() const;

private:
    enum class stage { waiting_for_status, queued, sent };
    struct entry {
        client_id client = 0;
        request asked;
        std::string origin;
        bool client_gone = false;
        command_tuple command{};
        stage now = stage::waiting_for_status;
        int refusals = 0;
        std::optional<relay_statuses> last_seen;
    };

    void client_command_sent(client_ticket ticket) override;
    void client_command_dropped(client_ticket ticket, const std::string& why) override;
    void status_frame_accepted(const relay_statuses& reported) override;
    void link_changed(link_condition now, const relay_statuses& reported) override;

    void queue_command(std::uint64_t key, entry& e);
    void start_deadline(std::uint64_t key);
    void deadline_passed(std::uint64_t key);
    void succeed(std::uint64_t key, const relay_statuses& reported);
    void fail(std::uint64_t key, reply_code code, const std::string& why,
              const std::optional<relay_statuses>& seen = std::nullopt);
    void finish(std::uint64_t key, const QByteArray& line, const command_outcome& outcome);
    void audit(const entry& e, const command_outcome& outcome) const;
    std::string port_gone_words() const;

    panel_controller& board;
    answer_fn answer;
    audit_fn audited;
    std::map<std::uint64_t, entry> entries;
    std::uint64_t next_key = 1;
    // Each deadline knows which start of its entry's clock it belongs to.
    std::map<std::uint64_t, std::uint64_t> deadline_generation;
};

}  // namespace relay
