#include "panel/panel_controller.h"

#include "core/still_listed.h"
#include "panel/board_address.h"

#include <algorithm>

namespace relay {

panel_controller::panel_controller(board_core& board) : core(board) { core.add_listener(this); }

panel_controller::~panel_controller() { core.remove_listener(this); }

void panel_controller::view::connect_refused(const open_result& why)
{
    std::string text = why.reason;
    if (why.holders == 1)
        text += " Close it, then connect again.";
    else if (why.holders > 1)
        text += " Close them, then connect again.";
    show_message("Cannot connect", text);
}

void panel_controller::add_view(view* v)
{
    if (v && std::find(views.begin(), views.end(), v) == views.end())
        views.push_back(v);
}

void panel_controller::remove_view(view* v) { views.erase(std::remove(views.begin(), views.end(), v), views.end()); }

void panel_controller::notify()
{
    update_indicator_tooltips();
    for_each_still_listed(views, [](view& v) { v.controls_changed(); });
}

void panel_controller::board_changed()
{
    // The board the window shows is the owner's; the core, idle, has
    // nothing to say about it.
    if (owner_attached)
        return;
    // Runs on every tick and every answer; the controls change only with
    // the connection or a relay's state.
    const bool connected = core.connected();
    const auto& states = connected ? core.states() : all_unknown;
    if (connected != presented.connected || states != presented.states) {
        if (connected)
            show_connected();
        else
            show_disconnected();
        presented = {connected, states};
    }
    notify();
}

void panel_controller::set_command(std::uint8_t c, std::uint8_t r1, std::uint8_t r2, std::uint8_t r3,
                                   std::uint8_t r4)
{
    core.set_mailbox(command_tuple{c, {r1, r2, r3, r4}});
}

void panel_controller::Timer1_Timer() { core.tick(); }

void panel_controller::show_disconnected()
{
    for (int i = 0; i < relay_count; ++i) {
        controls_.open[i].enabled = false;
        controls_.close[i].enabled = false;
        controls_.Label6[i].enabled = false;
        controls_.Label6[i].caption = caption_state;
    }
    controls_.openall.enabled = false;
    controls_.closeall.enabled = false;
    controls_.Timer1.running = false;
    controls_.chuankou_num.enabled = true;
    controls_.open_comm.caption = caption_connect;
}

void panel_controller::show_connected()
{
    for (int i = 0; i < relay_count; ++i) {
        controls_.open[i].enabled = true;
        controls_.close[i].enabled = true;
        controls_.Label6[i].enabled = true;
    }
    parse_status();
    controls_.openall.enabled = true;
    controls_.closeall.enabled = true;
    controls_.Timer1.running = true;
    controls_.chuankou_num.enabled = false;
    controls_.open_comm.caption = caption_disconnect;
}

void panel_controller::parse_status()
{
    const auto& states = core.states();
    for (std::size_t i = 0; i < states.size(); ++i)
        show_relay_state(controls_.Label6[i], states[i]);
}

void panel_controller::Form_Load()
{
    show_disconnected();
    presented = {false, all_unknown};
    core.clear_mailbox();
    core.set_address(address_from_text(controls_.add.text));
    notify();
}

void panel_controller::open_comm_Click()
{
    const auto& caption = controls_.open_comm.caption;
    if (caption == caption_connect) {
        if (core.port_is_open())
            return;
        const auto result = core.connect(controls_.chuankou_num.text);
        // A port held by a program that serves it is shared, not fought over.
        if (!result.ok && result.holders > 0 && attach_to_owner())
            return;
        if (!result.ok) {
            // The panel stays as it was: disconnected, port closed.
            notify();
            for_each_still_listed(views, [&result](view& v) { v.connect_refused(result); });
        }
    } else if (caption == caption_disconnect) {
        if (owner_attached)
            leave_owner();
        else
            core.disconnect();
    }
}

void panel_controller::update_indicator_tooltips()
{
    // Runs on every tick and every answer, and the texts change only when
    // the link's condition or a relay does: building them each time would
    // be most of a tick's work, for a window that may not exist.
    const bool lost = core.port_lost();
    const tooltip_inputs now{core.connected(),
                             lost,
                             lost ? core.lost_reason() : std::string(),
                             lost ? core.reopen_attempts() : 0,
                             core.address_unusable(),
                             core.bad_frames_since_valid(),
                             core.any_valid_since_connect(),
                             core.connected() ? core.states() : all_unknown};
    const auto& b = tooltips_for;
    if (tooltips_built && b.connected == now.connected && b.port_lost == now.port_lost &&
        b.lost_reason == now.lost_reason && b.reopen_attempts == now.reopen_attempts &&
        b.address_unusable == now.address_unusable && b.bad_frames_since_valid == now.bad_frames_since_valid &&
        b.any_valid_since_connect == now.any_valid_since_connect && b.states == now.states)
        return;
    tooltips_built = true;
    tooltips_for = now;

    std::string unknown_why;
    if (!now.connected) {
        unknown_why = "Not connected.";
    } else if (now.port_lost) {
        unknown_why = now.lost_reason + "\nReopening the port every second";
        if (now.reopen_attempts > 0)
            unknown_why += " (" + std::to_string(now.reopen_attempts) + " attempt" +
                           (now.reopen_attempts == 1 ? "" : "s") + " so far)";
        unknown_why += ".";
    } else if (now.address_unusable) {
        unknown_why = "The address field holds no board address (0 to 255), so nothing is sent.";
    } else if (now.bad_frames_since_valid > 0) {
        unknown_why = "The board's answers are garbled (" + std::to_string(now.bad_frames_since_valid) +
                      " bad frame" + (now.bad_frames_since_valid == 1 ? "" : "s") +
                      "). Check the cable, the ground and that the board runs at 9600 baud.";
    } else if (now.any_valid_since_connect) {
        unknown_why = "The board stopped answering. Check its power and the cable.";
    } else {
        unknown_why = "No answer from the board yet. Check the address, the cable and the board's power.";
    }
    for (int i = 0; i < relay_count; ++i) {
        auto& indicator = controls_.Label6[i];
        if (indicator.caption == caption_state)
            indicator.tooltip = unknown_why;
        else
            indicator.tooltip = "Relay " + std::to_string(i + 1) + " is " + indicator.caption +
                                ", as the board last reported. Click to switch it " +
                                (indicator.caption == caption_on ? "off." : "on.");
    }
}

}  // namespace relay
