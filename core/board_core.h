#pragma once
// One board as every face of it sees it: the window, relayd's socket and
// MQTT, a script. It keeps the link's condition, each relay's state as the
// board last reported it, the board's address, the window's one-slot
// mailbox, the other clients' queue, the watchdog, the reopening of a lost
// or silent port, and each queued command until the board proves it or it
// fails. It drives nothing itself: the owner calls tick() every poll_period
// and the link hands in the bytes; what changes is told to listeners, and
// each command's end to whoever queued it.

#include "core/command_result.h"
#include "core/confirmation.h"
#include "core/relay_state.h"
#include "core/still_listed.h"
#include "core/switch_rules.h"
#include "core/timing.h"
#include "protocol/command_kind.h"
#include "serial/serial_link.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace relay {

// Client commands that may wait at once; the next is refused as busy.
constexpr std::size_t client_queue_capacity = 64;

enum class link_condition {
    answering,  // a valid status frame within the watchdog's ticks
    silent,     // the port is open but the board gives no valid answer
    lost,       // no open port: not connected, or the port went away
};

const char* link_word(link_condition condition);

// A relay switched by a pulse or a cycle whose last step is still to come.
struct pending_step {
    int relay = 0;                          // 1 to 4
    relay_state final_state = relay_state::off;  // on or off
    std::chrono::milliseconds time_left{0};     // 0 once due
    std::chrono::milliseconds duration{0};      // the whole time it was set for
};

class board_core : private serial_link::events {
public:
    class listener {
    public:
        // Something readable here may have changed: after every tick, every
        // frame and every call that changes anything.
        virtual void board_changed() {}
        // A valid status frame arrived, whether or not it changed a relay.
        virtual void status_reported(const relay_states& states) { static_cast<void>(states); }
        // A relay's known state differs from what it was.
        virtual void relays_changed(const relay_states& states) { static_cast<void>(states); }
        virtual void link_changed(link_condition now) { static_cast<void>(now); }
        // connect() succeeded or disconnect() ended the connection.
        virtual void connection_changed(bool connected) { static_cast<void>(connected); }
        // The board stayed silent while its port looked healthy, so the port
        // was closed and opened again; `times` counts the reopenings in this
        // silence, from 1. The link stays silent throughout.
        virtual void silent_port_reopened(int times) { static_cast<void>(times); }
        // The window's mailbox command went out and has now ended.
        virtual void mailbox_command_finished(const command_result& result) { static_cast<void>(result); }
        // The owner found something wrong and put it right on its own, such
        // as two relays of one interlock group reported on together.
        virtual void warning(const std::string& text) { static_cast<void>(text); }
        // The owner acted on its own as its rules say, such as putting the
        // relays back after a silence.
        virtual void notice(const std::string& text) { static_cast<void>(text); }
        // A timed step was added, carried out, replaced or dropped; not told
        // for the time that passes.
        virtual void pending_steps_changed() {}

    protected:
        ~listener() = default;
    };

    // Whoever queues a command hears how it ended, and only they do.
    class sender {
    public:
        virtual void command_finished(command_id id, const command_result& result) = 0;

    protected:
        ~sender() = default;
    };

    explicit board_core(serial_link& link);
    ~board_core();
    board_core(const board_core&) = delete;
    board_core& operator=(const board_core&) = delete;

    // A listener removes itself before it goes; one may leave while told.
    void add_listener(listener* l);
    void remove_listener(listener* l);

    // Opens the port the text names (a number or a device) and starts
    // polling; the ticks must then come. Nothing changes when it fails.
    open_result connect(const std::string& port_text);
    // Closes the port, stops the reopening, and ends every queued command.
    void disconnect();
    // One poll period: the watchdog, the reopening, the deadlines, and one
    // frame out (the mailbox, else the next client command, else a query).
    void tick();

    // The address every following frame carries; none stops the sending
    // and keeps every command waiting.
    void set_address(std::optional<std::uint8_t> address);
    std::optional<std::uint8_t> address() const { return address_; }

    // Relays never on together and what to do after a silence; applies from
    // the next tick.
    void set_rules(const switch_rules& rules);
    const switch_rules& rules() const { return rules_; }

    // The window's one slot: a newer command replaces one not yet sent. One
    // the interlock forbids is not kept; its end (interlocked) is told on
    // the next tick.
    void set_mailbox(const command_tuple& command);
    // Empty, holding no command.
    void clear_mailbox();
    bool mailbox_full() const { return mailbox.full; }
    const command_tuple& mailbox_command() const { return mailbox.command; }

    // Queues a client command, which goes out on a tick when the mailbox is
    // empty; its end reaches `from`. Nothing when the queue is full. A
    // command the interlock forbids is never sent and ends interlocked on
    // the next tick. Every relay it switches loses its pending timed step,
    // whose request ends replaced.
    std::optional<command_id> queue_command(const command_tuple& command, sender* from);
    // Why the interlock forbids the command, or nothing.
    std::optional<std::string> interlock_refusal_of(const command_tuple& command) const;

    // A pulse (the relay on now, off after `duration`) or a cycle (off now,
    // on after it). The first step queues like any command; the last goes
    // out on the first tick at or after `duration` from the first, once the
    // board answers. `from` hears one end: the last step's, or the first
    // step's failure, or replaced. Nothing when the queue is full, or for a
    // kind, relay or duration out of range.
    std::optional<command_id> queue_timed(command_kind kind, int relay, std::chrono::milliseconds duration,
                                          sender* from);
    // The timed steps still to come whose first step went out.
    std::vector<pending_step> pending_steps() const;
    // Takes on a step left by an earlier owner (read back after a restart):
    // it goes out once time_left has passed and the board answers, at once
    // if it has passed already, and never later than a step may last. No
    // one hears its end.
    void resume_step(int relay, relay_state final_state, std::chrono::milliseconds time_left);
    // Every pending step is due now: their final states go out together on
    // the next tick the board answers (before stopping).
    void settle_pending_now();
    std::size_t queued_commands() const { return client_queue.size(); }
    // A sender going away hears nothing more; its commands still go out.
    void forget_sender(sender* from);

    const relay_states& states() const { return states_; }
    relay_statuses reported_statuses() const { return statuses_of(states_); }
    link_condition link_now() const;

    bool connected() const { return connection.connected; }
    // Connected, but the port went away and is being reopened.
    bool port_lost() const { return connection.port_lost; }
    // Why the port went away or the last reopening failed, in plain words.
    const std::string& lost_reason() const { return connection.lost_reason; }
    int reopen_attempts() const { return connection.reopen_attempts; }
    bool port_is_open() const { return link.port_is_open(); }
    // The device of the open port, or of the last one opened.
    const port_entry& port() const { return link.port(); }
    const port_catalog& catalog() const { return link.catalog(); }

    // Why the relays may be unknown while connected.
    bool address_unusable() const { return board_health.address_unusable; }
    int bad_frames_since_valid() const { return board_health.bad_frames_since_valid; }
    bool any_valid_since_connect() const { return board_health.any_valid_since_connect; }
    // Ticks the last valid status frame still covers.
    std::int32_t watchdog_count() const { return board_health.watchdog_count; }
    const frame& last_frame() const { return board_health.last_frame; }

private:
    struct queued_command {
        command_tuple command;
        command_id id = 0;
        sender* from = nullptr;
        bool timed_first = false;  // the first step of the timed request `id`
    };
    enum class purpose {
        client,       // a client's command
        mailbox,      // the window's
        own,          // the owner's: a restore or an interlock correction
        breaking,     // switches a group's others off before one of it goes on
        timed_first,  // the first step of the timed request `id`
        timed_last,   // the last steps of the timed requests `steps`
    };
    // A command on the line, waiting for the board to prove it.
    struct in_flight_command {
        command_id id = 0;
        sender* from = nullptr;  // none but for a client's, or once forgotten
        purpose what = purpose::client;
        confirmation rule;
        int ticks_left = command_deadline_ticks;
        std::vector<command_id> steps;
    };
    struct timed_request {
        command_id id = 0;
        sender* from = nullptr;
        int relay = 0;
        bool ends_on = false;
        int duration_ticks = 0;
        // Ticks until the last step is due, counted once the first went out.
        int ticks_left = 0;
        enum class phase { queued, first_on_line, running, last_on_line } now = phase::queued;
    };
    // The next command to go out, and where it waits.
    enum class source { own, due_steps, mailbox, queue };
    struct candidate {
        source from;
        command_tuple command;
        std::vector<command_id> steps;
    };
    struct refusal {
        command_id id = 0;
        sender* from = nullptr;
        bool from_mailbox = false;
        command_tuple command;
        std::string why;
    };

    void status_frame_received(const frame& rx) override;
    void link_lost(const std::string& reason) override;

    void send_next();
    std::optional<candidate> next_candidate() const;
    void send_candidate(std::uint8_t address, const candidate& next);
    void drop_candidate(const candidate& next, const command_result& failed);
    std::optional<command_tuple> breaker_for(const command_tuple& command) const;
    bool may_be_on(int relay) const;
    send_result send(std::uint8_t address, const command_tuple& command);
    void tell_refusals();
    void count_down_steps();
    void replace_steps(const command_tuple& command);
    void end_timed(command_id id, command_result result);
    void timed_first_ended(command_id id, const command_result& result);
    void timed_last_ended(const std::vector<command_id>& steps, const command_result& result);
    timed_request* timed_of(command_id id);
    command_tuple last_step_of(const timed_request& t) const;
    void check_interlock(const relay_states& reported);
    void restore_after_silence();
    void add_own(const command_tuple& command);
    void watchdog_tick();
    void try_reopen();
    void reopen_if_silent();
    void forget_silence();
    void set_relays(const relay_states& now);
    void drop_queued(const std::string& why);
    void end_sent(command_result::end how, const std::string& why);
    void count_down_deadlines();
    void finish(std::size_t in_flight_index, command_result result);
    void notify();
    template <typename Call>
    void tell(Call call)
    {
        for_each_still_listed(listeners, call);
    }

    serial_link& link;
    std::vector<listener*> listeners;
    std::optional<std::uint8_t> address_ = std::uint8_t{1};
    relay_states states_ = all_unknown;
    link_condition last_link = link_condition::lost;

    struct {
        command_tuple command{};
        bool full = false;
    } mailbox;

    struct {
        bool connected = false;
        bool port_lost = false;
        std::string lost_reason;
        std::string port_text;
        int reopen_countdown = 0;
        int reopen_attempts = 0;
        // Frames still to go unanswered before the port is reopened for the
        // board's silence, and how often it has been in this silence.
        int frames_until_silent_reopen = silent_port_reopen_ticks;
        int silent_reopens = 0;
    } connection;

    struct {
        std::int32_t watchdog_count = 0;
        frame last_frame{};
        bool answering = false;
        bool address_unusable = false;
        int bad_frames_since_valid = 0;
        bool any_valid_since_connect = false;
    } board_health;

    std::deque<queued_command> client_queue;
    std::vector<in_flight_command> in_flight;
    command_id next_id = 1;

    switch_rules rules_;
    std::vector<timed_request> timed;
    std::vector<refusal> refusals;
    // The owner's own command still to go out: a restore, an interlock
    // correction, or both in one frame.
    std::optional<command_tuple> own_command;
    // The timed steps whose final state a restore in own_command carries.
    std::vector<command_id> own_steps;
    // What the board last reported while answering, kept over a silence.
    std::optional<relay_states> confirmed_before;
    // Two relays of a group were reported on and that was told; cleared by
    // a frame without it.
    bool violation_told = false;
    // Breakers that failed in a row: the command waiting for them fails.
    int failed_breaks = 0;
};

}  // namespace relay
