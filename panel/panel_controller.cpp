#include "panel/panel_controller.h"

#include "serial/number_text.h"

namespace relay {

panel_controller::panel_controller(serial_link& link) : link_(link)
{
    link_.set_events(this);
    link_.set_address_text([this] { return controls_.add.text; });
}

panel_controller::~panel_controller()
{
    link_.set_events(nullptr);
    link_.set_address_text({});
}

void panel_controller::notify()
{
    update_indicator_tooltips();
    if (view_)
        view_->controls_changed();
}

void panel_controller::set_command(std::uint8_t c, std::uint8_t r1, std::uint8_t r2, std::uint8_t r3,
                                   std::uint8_t r4)
{
    pending_cmd = command_tuple{c, {r1, r2, r3, r4}};
    pending_flag = 1;
}

void panel_controller::send_next()
{
    const command_tuple command = pending_flag != 0 ? pending_cmd : status_query;
    const auto result = link_.send_frame(command.code, command.actions[0], command.actions[1], command.actions[2],
                                         command.actions[3]);
    address_unusable_ = result == send_result::no_address;
    // A command that never reached the line keeps waiting rather than being
    // reported as done; it goes out on the first tick that can send it.
    if (result == send_result::sent || result == send_result::write_failed)
        pending_flag = 0;
}

void panel_controller::parse_status()
{
    if (!is_valid_status(rx_frame)) {
        ++bad_frames_since_valid_;
        return;
    }
    const auto statuses = decode_status(rx_frame);
    for (int i = 0; i < relay_count; ++i) {
        auto& indicator = controls_.Label6[i];
        if (statuses[i] == status_off) {
            indicator.caption = caption_off;
            indicator.colour = colour_red;
        } else if (statuses[i] == status_on) {
            indicator.caption = caption_on;
            indicator.colour = colour_green;
        }
    }
    alive_count = watchdog_reload;
    bad_frames_since_valid_ = 0;
    any_valid_since_connect_ = true;
}

void panel_controller::Timer1_Timer()
{
    if (alive_count > 0)
        --alive_count;
    else
        show_connected();

    if (link_lost_)
        try_reopen();
    if (!link_lost_)
        send_next();
    notify();
}

void panel_controller::try_reopen()
{
    if (--reopen_countdown_ > 0)
        return;
    ++reopen_attempts_;
    const auto result = link_.open_port(connected_port_text_);
    if (result.ok) {
        link_lost_ = false;
        lost_reason_.clear();
        reopen_attempts_ = 0;
    } else {
        lost_reason_ = result.reason;
        reopen_countdown_ = reopen_ticks;
    }
}

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
        controls_.Label6[i].colour = colour_black;
        controls_.Label6[i].caption = caption_state;
    }
    controls_.openall.enabled = true;
    controls_.closeall.enabled = true;
    controls_.Timer1.running = true;
    controls_.chuankou_num.enabled = false;
    controls_.open_comm.caption = caption_disconnect;
}

void panel_controller::Form_Load()
{
    show_disconnected();
    set_command(0, 0, 0, 0, 0);
    pending_flag = 0;
    notify();
}

void panel_controller::open_comm_Click()
{
    const auto& caption = controls_.open_comm.caption;
    if (caption == caption_connect) {
        if (link_.port_is_open())
            return;
        const std::string port_text = controls_.chuankou_num.text;
        const auto result = link_.open_port(port_text);
        if (!result.ok) {
            // The panel stays as it was: disconnected, port closed.
            notify();
            if (view_)
                view_->show_message("Cannot connect", result.reason);
            return;
        }
        connected_ = true;
        link_lost_ = false;
        lost_reason_.clear();
        connected_port_text_ = port_text;
        bad_frames_since_valid_ = 0;
        any_valid_since_connect_ = false;
        show_connected();
        notify();
    } else if (caption == caption_disconnect) {
        // A lost port is already closed; disconnecting still has to stop
        // the retries and leave the connected state.
        if (!link_.port_is_open() && !link_lost_)
            return;
        if (link_.port_is_open())
            link_.close_port();
        connected_ = false;
        link_lost_ = false;
        show_disconnected();
        notify();
    }
}

void panel_controller::status_frame_received(const frame& rx)
{
    rx_frame = rx;
    parse_status();
    notify();
}

void panel_controller::link_lost(const std::string& reason)
{
    if (!connected_)
        return;
    link_lost_ = true;
    lost_reason_ = reason;
    reopen_countdown_ = reopen_ticks;
    reopen_attempts_ = 0;
    notify();
}

void panel_controller::update_indicator_tooltips()
{
    std::string unknown_why;
    if (!connected_) {
        unknown_why = "Not connected.";
    } else if (link_lost_) {
        unknown_why = lost_reason_ + "\nReopening the port every second";
        if (reopen_attempts_ > 0)
            unknown_why += " (" + std::to_string(reopen_attempts_) + " attempt" + (reopen_attempts_ == 1 ? "" : "s") +
                           " so far)";
        unknown_why += ".";
    } else if (address_unusable_) {
        unknown_why = "The address field holds no board address (0 to 255), so nothing is sent.";
    } else if (bad_frames_since_valid_ > 0) {
        unknown_why = "The board's answers are garbled (" + std::to_string(bad_frames_since_valid_) +
                      " bad frame" + (bad_frames_since_valid_ == 1 ? "" : "s") +
                      "). Check the cable, the ground and that the board runs at 9600 baud.";
    } else if (any_valid_since_connect_) {
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
