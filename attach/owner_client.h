#pragma once
// A client of the program that owns a board's port (relayd, or another
// relay panel), through the control socket that owner serves it on: the
// board as the owner reports it, and commands carried out by the owner. It
// knows nothing of ports and never opens one.
//
// attach() connects and watches. From then on the client keeps the owner's
// relays (on or off only from the owner's events, which come from the
// board's answers), the owner's link condition, its port and address, and
// who the owner is. When the owner goes away the relays turn unknown and
// the link lost, and the client tries again every second until detach();
// when the owner comes back the watch resumes by itself.
//
// Everything runs on the loop's thread. A listener may call any member
// from inside a call it hears, but must not destroy the client there.

#include "attach/owner_lines.h"
#include "core/board_core.h"
#include "core/relay_state.h"
#include "loop/io_loop.h"
#include "protocol/command_kind.h"
#include "protocol/reply_code.h"
#include "service/line_reader.h"
#include "service/replies.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace relay {

class client_connection;

// How often an owner that is not there is looked for again.
constexpr std::chrono::milliseconds attach_retry_period{1000};
// An owner answers a watch at once; one that has taken the connection and
// still says nothing after this long is left and tried again.
constexpr std::chrono::milliseconds first_event_wait{3000};
// Bytes waiting to reach an owner that has stopped reading, past which it
// counts as gone.
constexpr std::size_t max_unsent_bytes = 64 * 1024;

// Who serves the socket, as the kernel saw it listen (SO_PEERCRED).
struct owner_identity {
    int pid = 0;          // 0 when the kernel does not tell
    std::string program;  // program_of(pid); empty when /proc does not tell
    std::string words;    // "relayd (pid 1234)"
};

// How a command ended: confirmed by the owner (the board showed it), or
// refused with the owner's code and reason. A client-side end (no owner to
// send it to, the owner gone or silent past owner_reply_wait) reads port
// or timeout, in the client's own words.
struct owner_answer {
    bool confirmed = false;
    reply_code code = reply_code::port;  // when !confirmed
    std::string words;                   // when !confirmed
};

enum class attach_stage {
    idle,      // not asked to attach, or detached
    waiting,   // asked: no owner yet, or one not yet answering the watch
    attached,  // the owner's watch runs
};

class owner_client {
public:
    using ticket = std::uint64_t;

    class listener {
    public:
        // The first watch event came: the owner serves this client.
        virtual void attached(const owner_identity& owner) { static_cast<void>(owner); }
        // Not attached, and why in plain words: told on leaving the
        // attached stage and whenever the reason changes while waiting.
        virtual void detached(const std::string& why) { static_cast<void>(why); }
        virtual void relays_changed(const relay_states& states) { static_cast<void>(states); }
        virtual void link_changed(link_condition now) { static_cast<void>(now); }
        // The owner's port and address became known, changed or unknown.
        virtual void board_facts_changed(const board_facts& facts) { static_cast<void>(facts); }
        // Once for every ticket send() gave, on a later turn than send().
        virtual void command_finished(ticket id, const owner_answer& answer)
        {
            static_cast<void>(id);
            static_cast<void>(answer);
        }

    protected:
        ~listener() = default;
    };

    // loop must outlive the client.
    owner_client(io_loop& loop, std::string socket_path);
    ~owner_client();
    owner_client(const owner_client&) = delete;
    owner_client& operator=(const owner_client&) = delete;

    // A listener removes itself before it goes; one may leave while told.
    void add_listener(listener* l);
    void remove_listener(listener* l);

    // Connects now and watches, or keeps trying every second; nothing when
    // asked already.
    void attach();
    // Hangs up and stops trying; commands still waiting end as port.
    void detach();

    // Asks the owner for a command (status, on, off, toggle, all-on,
    // all-off; relay 1 to 4 for those that name one, checked by the owner).
    // Its end reaches command_finished once, and it is never sent again.
    ticket send(command_kind kind, int relay = 0);

    attach_stage stage() const { return stage_; }
    bool is_attached() const { return stage_ == attach_stage::attached; }
    const relay_states& relays() const { return relays_; }
    link_condition link() const { return link_; }
    // Port empty while not known.
    const board_facts& board() const { return board_; }
    // Who the owner is; empty while no owner has been reached.
    const owner_identity& owner() const { return owner_; }
    // Why not attached; empty while attached.
    const std::string& why() const { return why_; }
    const std::string& socket_path() const { return path; }
    // Connections tried since attach().
    int attempts() const { return attempts_; }
    std::size_t commands_waiting() const { return waiting.size(); }

private:
    struct queued_refusal {
        ticket id = 0;
        owner_answer answer;
    };

    void try_attach();
    void connected(int fd);
    void received(std::uint64_t generation, const std::string& bytes);
    void handle_line(const std::string& line);
    void handle_state(const relay_states& relays, link_condition link);
    void handle_reply(const owner_reply& reply);
    void write(const std::string& line);
    void ask_status();
    void owner_left();
    void owner_silent();
    void lose(const std::string& why, bool try_again);
    void drop_connection();
    void finish(ticket id, const owner_answer& answer);
    void refuse_later(ticket id, reply_code code, const std::string& words);
    void run_later();
    void set_relays(const relay_states& relays);
    void set_link(link_condition link);
    void set_facts(const board_facts& facts);
    template <typename Call>
    void tell(Call call);

    io_loop& loop;
    const std::string path;
    std::vector<listener*> listeners;

    attach_stage stage_ = attach_stage::idle;
    relay_states relays_ = all_unknown;
    link_condition link_ = link_condition::lost;
    board_facts board_;
    owner_identity owner_;
    std::string why_ = "Not attached.";
    // The reason listeners last heard, so that a retry failing the same way
    // is not told again.
    std::string told_why;
    int attempts_ = 0;

    std::unique_ptr<client_connection> connection;
    // Counts connections, so that bytes read for one that has since been
    // dropped are not taken for the next one's.
    std::uint64_t generation = 0;
    line_reader reader{max_owner_line_bytes};
    bool asking_status = false;
    // An id-less refusal the owner sent, the reason when it hangs up next.
    std::string turned_away;
    // Why the connection cannot be written to any more, when it cannot: it
    // is dropped on a later turn, not inside send().
    std::string broken;

    ticket next_ticket = 1;
    // Each command on its way, with its deadline's timer.
    std::map<ticket, io_loop::timer_id> waiting;
    std::vector<queued_refusal> refusals;
    // Connections aborted from inside their own callbacks, destroyed on a
    // later turn.
    std::vector<std::unique_ptr<client_connection>> spent;

    loop_timer retry{loop, [this] { try_attach(); }};
    loop_timer silence{loop, [this] { owner_silent(); }};
    loop_timer later{loop, [this] { run_later(); }};
};

}  // namespace relay
