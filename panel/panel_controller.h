#pragma once
// The logic of the main window: the event procedures of every control, and
// the controls as the board core's state shows them. The board core keeps
// the mailbox, the 100 ms poll, the watchdog and the link; this only turns
// its typed state into captions, colours and tooltips. It owns no widget,
// no timer and no port: the window paints `controls()` and calls the event
// procedures.
// When the port is held by a program that serves it (board_owner), "connect"
// attaches to that owner instead, and the same controls present the board
// as the owner reports it; the relay buttons become commands in its queue.

#include "core/board_core.h"
#include "panel/board_owner.h"
#include "panel/panel_controls.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace relay {

class panel_controller : private board_core::listener, private board_owner::listener {
public:
    class view {
    public:
        // Some property in controls() may have changed.
        virtual void controls_changed() = 0;
        // Something the operator asked for failed; tell them why.
        virtual void show_message(const std::string& title, const std::string& text) = 0;
        // "connect" could not open the port: tell the operator why and, for a
        // port other programs hold, to close them and connect again.
        virtual void connect_refused(const open_result& why);

    protected:
        ~view() = default;
    };

    explicit panel_controller(board_core& board);
    ~panel_controller();
    panel_controller(const panel_controller&) = delete;
    panel_controller& operator=(const panel_controller&) = delete;

    // Every view hears every change. A view removes itself before it goes.
    void add_view(view* v);
    void remove_view(view* v);
    const panel_controls& controls() const { return controls_; }
    board_core& board() { return core; }
    const board_core& board() const { return core; }

    // Where "connect" looks for the owner of a port that other programs
    // hold; none leaves such a port refused. Set before the first connect;
    // owner must outlive the logic or be unset first.
    void set_board_owner(board_owner* owner);
    // The window sees the board through the program that owns its port.
    bool through_owner() const { return owner_attached; }

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
    const command_tuple& pending_cmd() const { return core.mailbox_command(); }
    bool pending_flag() const { return core.mailbox_full(); }
    std::int32_t alive_count() const { return core.watchdog_count(); }
    const frame& rx_frame() const { return core.last_frame(); }
    bool port_lost() const { return core.port_lost(); }
    const std::string& lost_reason() const { return core.lost_reason(); }
    bool connected() const { return core.connected(); }
    const port_entry& port() const { return core.port(); }

private:
    void set_command(std::uint8_t c, std::uint8_t r1, std::uint8_t r2, std::uint8_t r3, std::uint8_t r4);
    void parse_status();
    void show_connected();
    void show_disconnected();
    void add_Change();
    void update_indicator_tooltips();
    void notify();

    void board_changed() override;

    // Attaching to the owner of a held port, and presenting its board.
    bool attach_to_owner();
    void leave_owner();
    void show_owner();
    void send_to_owner(command_kind kind, int relay);
    void owner_changed() override;
    void owner_refused(const std::string& words) override;

    board_core& core;
    std::vector<view*> views;

    board_owner* owner = nullptr;
    bool owner_attached = false;
    // The operator's address field and arrow, given back at detaching: the
    // owner's address shows there meanwhile.
    struct {
        std::string text;
        int value = 1;
    } own_address;

    panel_controls controls_;
    // The connection and the relays as the controls show them now.
    struct {
        bool connected = false;
        relay_states states = all_unknown;
    } presented;

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
        relay_states states{};
    };
    bool tooltips_built = false;
    tooltip_inputs tooltips_for;
};

}  // namespace relay
