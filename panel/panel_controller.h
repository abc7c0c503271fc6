#pragma once
// The logic of the main window: a one-slot command mailbox, the 100 ms poll
// tick that sends the waiting command or a status query, the watchdog that
// turns the indicators back to "state" when the board falls silent, the
// connected and disconnected states, and the handlers of every control.
// It owns no widget, no timer and no port: the window paints `controls()`
// and calls the event procedures; the tick comes from whoever runs Timer1.

#include "panel/board_clients.h"
#include "panel/panel_controls.h"
#include "serial/serial_link.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace relay {

constexpr std::chrono::milliseconds poll_period{100};
// A valid status frame allows this many silent ticks before the indicators
// fall back to "state".
constexpr std::int32_t watchdog_reload = 5;
// A lost port is reopened this often while the panel stays connected.
constexpr std::chrono::milliseconds reopen_period{1000};
constexpr int reopen_ticks = static_cast<int>(reopen_period / poll_period);
// A board that gives no valid answer for this long while its port looks
// healthy gets the port closed and opened again: a port that has stopped
// handing over what the board sends shows nothing else, and nothing else
// heals it. While the silence lasts, again at most this often.
constexpr std::chrono::milliseconds silent_port_reopen_after{5000};
constexpr std::chrono::milliseconds silent_port_reopen_period{30000};
constexpr int silent_port_reopen_ticks = static_cast<int>(silent_port_reopen_after / poll_period);
constexpr int silent_port_repeat_ticks = static_cast<int>(silent_port_reopen_period / poll_period);

class panel_controller : private serial_link::events {
public:
    class view {
    public:
        // Some property in controls() may have changed.
        virtual void controls_changed() = 0;
        // Something the operator asked for failed; tell them why.
        virtual void show_message(const std::string& title, const std::string& text) = 0;
        // "connect" could not open the port. The window tells the operator
        // why and, for a port other programs hold, to close them and connect
        // again; a program without a "connect" button says what it does
        // instead.
        virtual void connect_refused(const open_result& why);

    protected:
        ~view() = default;
    };

    explicit panel_controller(serial_link& link);
    ~panel_controller();
    panel_controller(const panel_controller&) = delete;
    panel_controller& operator=(const panel_controller&) = delete;

    // Every view hears every change: the session (for its timer), the
    // window, a daemon's log. A view removes itself before it goes.
    void add_view(view* v);
    void remove_view(view* v);
    const panel_controls& controls() const { return own.controls; }

    // Window and timer events.
    void Form_Load();
    void Timer1_Timer();
    void open_comm_Click();

    // Relay commands: each only fills the mailbox.
    void open_Click(int index);
    void close_Click(int index);
    void openall_Click();
    void closeall_Click();
    void Label6_Click(int index);

    // Address and port entry. The window reports every change of a field's
    // text (typed, pasted or written by a spin control) through these.
    void set_add_text(const std::string& text);
    void set_chuankou_num_text(const std::string& text);
    void VScroll1_Change(int value);
    void VScroll2_Change(int value);

    // The mailbox, the received frame and the watchdog, readable for tests
    // and for the window's diagnostics.
    const command_tuple& pending_cmd() const { return own.pending_cmd; }
    bool pending_flag() const { return own.pending_flag != 0; }
    std::int32_t alive_count() const { return own.alive_count; }
    const frame& rx_frame() const { return own.rx_frame; }
    // True while connected but the port has gone away and is being reopened.
    bool port_lost() const { return connection.port_lost; }
    // Why the port went away or the last reopening failed, in plain words.
    const std::string& lost_reason() const { return connection.lost_reason; }
    bool connected() const { return connection.connected; }
    // The device of the open port, or of the last one opened.
    const port_entry& port() const { return link.port(); }

    // Commands from clients other than the window. False when the queue is
    // full: nothing is queued and the client must be told so.
    bool queue_client_command(const command_tuple& command, client_ticket ticket);
    std::size_t queued_client_commands() const { return client_queue.size(); }
    void add_observer(board_observer* observer);
    void remove_observer(board_observer* observer);
    link_condition link_now() const;
    // The relays as the indicators show them: status_on, status_off, or 0
    // for "state".
    relay_statuses reported_statuses() const;

private:
    void set_command(std::uint8_t c, std::uint8_t r1, std::uint8_t r2, std::uint8_t r3, std::uint8_t r4);
    void send_next();
    void parse_status();
    void show_connected();
    void show_disconnected();
    void add_Change();
    void try_reopen();
    void reopen_if_silent();
    void forget_silence();
    send_result send(std::uint8_t address, const command_tuple& command);
    void update_indicator_tooltips();
    void notify();
    void drop_client_commands(const std::string& why);
    template <typename Call>
    void tell_observers(Call call);

    void status_frame_received(const frame& rx) override;
    void link_lost(const std::string& reason) override;

    serial_link& link;
    std::vector<view*> views;

    // The window's own state: what its controls show, the mailbox, the
    // watchdog and the last frame received.
    struct form_state {
        panel_controls controls;
        command_tuple pending_cmd;
        std::uint8_t pending_flag = 0;  // 0 or 1, as the board's panel always kept it
        std::int32_t alive_count = 0;
        frame rx_frame{};
    } own;

    struct connection_state {
        bool connected = false;
        // Connected, but the port went away and is reopened every second.
        bool port_lost = false;
        std::string lost_reason;
        std::string connected_port_text;
        int reopen_countdown = 0;
        int reopen_attempts = 0;
        // Frames still to go unanswered before the port is reopened for the
        // board's silence, and how often it has been in this silence.
        int frames_until_silent_reopen = silent_port_reopen_ticks;
        int silent_reopens = 0;
    } connection;

    // Why the indicators may read "state" while connected.
    bool address_unusable = false;
    int bad_frames_since_valid = 0;
    bool any_valid_since_connect = false;
    // Cleared whenever the indicators fall back to "state".
    bool board_answering = false;

    struct queued_command {
        command_tuple command;
        client_ticket ticket = 0;
    };
    std::deque<queued_command> client_queue;
    std::vector<board_observer*> observers;
    link_condition last_link = link_condition::lost;

    // Everything the indicators' tooltips are made from, as they were when
    // the tooltips were last built.
    struct tooltip_inputs {
        bool connected = false;
        bool port_lost = false;
        std::string lost_reason;
        int reopen_attempts = 0;
        bool address_unusable = false;
        int bad_frames_since_valid = 0;
        bool any_valid_since_connect = false;
        std::array<std::string, relay_count> captions;
    };
    bool tooltips_built = false;
    tooltip_inputs tooltips_for;
};

}  // namespace relay
