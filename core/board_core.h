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
#include "core/timing.h"
#include "serial/serial_link.h"

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

    // The window's one slot: a newer command replaces one not yet sent.
    void set_mailbox(const command_tuple& command);
    // Empty, holding no command.
    void clear_mailbox();
    bool mailbox_full() const { return mailbox.full; }
    const command_tuple& mailbox_command() const { return mailbox.command; }

    // Queues a client command, which goes out on a tick when the mailbox is
    // empty; its end reaches `from`. Nothing when the queue is full.
    std::optional<command_id> queue_command(const command_tuple& command, sender* from);
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
    };
    // A command on the line, waiting for the board to prove it.
    struct in_flight_command {
        command_id id = 0;
        sender* from = nullptr;  // none for the mailbox's, or once forgotten
        bool from_mailbox = false;
        confirmation rule;
        int ticks_left = command_deadline_ticks;
    };

    void status_frame_received(const frame& rx) override;
    void link_lost(const std::string& reason) override;

    void send_next();
    send_result send(std::uint8_t address, const command_tuple& command);
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
    void tell(Call call);

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
};

}  // namespace relay
