#include "panel/panel_controller.h"

#include "panel/board_address.h"

#include <algorithm>

namespace relay {

panel_controller::panel_controller(serial_link& link) : link(link)
{
    link.set_events(this);
}

panel_controller::~panel_controller()
{
    link.set_events(nullptr);
}

const char* link_word(link_condition condition)
{
    switch (condition) {
    case link_condition::answering:
        return "answering";
    case link_condition::silent:
        return "silent";
    case link_condition::lost:
        return "lost";
    }
    return "lost";
}

void panel_controller::view::connect_refused(const open_result& why)
{
    std::string text = why.reason;
    if (why.holders == 1)
        text += " Close it, then connect again.";
    else if (why.holders > 1)
        text += " Close them, then connect again.";
    show_message("Cannot connect", text);
}

namespace {

// Calls call(*e) for each element of list as it is now, skipping any that
// has left the list by its turn: a view or an observer may leave while it
// is told. The snapshot stays off the heap for the few there usually are,
// as this runs twice a tick.
template <typename T, typename Call>
void for_each_still_listed(const std::vector<T*>& list, Call call)
{
    constexpr std::size_t on_stack = 8;
    T* fixed[on_stack];
    std::vector<T*> spilled;
    T* const* snapshot = fixed;
    const std::size_t count = list.size();
    if (count <= on_stack) {
        std::copy(list.begin(), list.end(), fixed);
    } else {
        spilled = list;
        snapshot = spilled.data();
    }
    for (std::size_t i = 0; i < count; ++i)
        if (std::find(list.begin(), list.end(), snapshot[i]) != list.end())
            call(*snapshot[i]);
}

}  // namespace

template <typename Call>
void panel_controller::tell_observers(Call call)
{
    for_each_still_listed(observers, call);
}

void panel_controller::notify()
{
    update_indicator_tooltips();
    const auto now = link_now();
    if (now != last_link) {
        last_link = now;
        const auto reported = reported_statuses();
        tell_observers([&](board_observer& o) { o.link_changed(now, reported); });
    }
    for_each_still_listed(views, [](view& v) { v.controls_changed(); });
}

void panel_controller::add_view(view* v)
{
    if (v && std::find(views.begin(), views.end(), v) == views.end())
        views.push_back(v);
}

void panel_controller::remove_view(view* v) { views.erase(std::remove(views.begin(), views.end(), v), views.end()); }

bool panel_controller::queue_client_command(const command_tuple& command, client_ticket ticket)
{
    if (client_queue.size() >= client_queue_capacity)
        return false;
    client_queue.push_back({command, ticket});
    return true;
}

void panel_controller::add_observer(board_observer* observer)
{
    if (observer && std::find(observers.begin(), observers.end(), observer) == observers.end())
        observers.push_back(observer);
}

void panel_controller::remove_observer(board_observer* observer)
{
    observers.erase(std::remove(observers.begin(), observers.end(), observer), observers.end());
}

link_condition panel_controller::link_now() const
{
    if (!connection.connected || connection.port_lost)
        return link_condition::lost;
    return board_answering ? link_condition::answering : link_condition::silent;
}

relay_statuses panel_controller::reported_statuses() const
{
    relay_statuses reported{};
    for (int i = 0; i < relay_count; ++i) {
        const auto& caption = own.controls.Label6[static_cast<std::size_t>(i)].caption;
        reported[static_cast<std::size_t>(i)] =
            caption == caption_on ? status_on : caption == caption_off ? status_off : 0;
    }
    return reported;
}

void panel_controller::drop_client_commands(const std::string& why)
{
    auto dropped = std::move(client_queue);
    client_queue.clear();
    for (const auto& entry : dropped)
        tell_observers([&](board_observer& o) { o.client_command_dropped(entry.ticket, why); });
}

void panel_controller::set_command(std::uint8_t c, std::uint8_t r1, std::uint8_t r2, std::uint8_t r3,
                                   std::uint8_t r4)
{
    own.pending_cmd = command_tuple{c, {r1, r2, r3, r4}};
    own.pending_flag = 1;
}

void panel_controller::send_next()
{
    // Read afresh on every send: an address changed while connection.connected applies
    // to the very next frame. Without one nothing is sent, and a waiting
    // command keeps waiting for a usable address.
    const auto address = address_from_text(own.controls.add.text);
    address_unusable = !address;
    if (!address)
        return;

    if (own.pending_flag != 0) {
        // A command that never reached the line keeps waiting rather than
        // being reported as done; it goes out on the first tick that can
        // send it.
        const auto result = send(*address, own.pending_cmd);
        if (result == send_result::sent || result == send_result::write_failed)
            own.pending_flag = 0;
        if (result == send_result::sent)
            tell_observers([&](board_observer& o) { o.window_command_sent(own.pending_cmd); });
        return;
    }
    if (!client_queue.empty()) {
        const auto next = client_queue.front();
        const auto result = send(*address, next.command);
        if (result == send_result::port_closed)
            return;
        client_queue.pop_front();
        if (result == send_result::sent)
            tell_observers([&](board_observer& o) { o.client_command_sent(next.ticket); });
        else
            tell_observers([&](board_observer& o) {
                o.client_command_dropped(next.ticket, "The command could not be written to the port.");
            });
        return;
    }
    send(*address, status_query);
}

send_result panel_controller::send(std::uint8_t address, const command_tuple& command)
{
    const auto result = link.send_frame(address, command);
    if (result == send_result::sent)
        --connection.frames_until_silent_reopen;
    return result;
}

void panel_controller::parse_status()
{
    if (!is_valid_status(own.rx_frame)) {
        ++bad_frames_since_valid;
        return;
    }
    const auto statuses = decode_status(own.rx_frame);
    for (int i = 0; i < relay_count; ++i) {
        auto& indicator = own.controls.Label6[i];
        if (statuses[i] == status_off) {
            indicator.caption = caption_off;
            indicator.colour = colour_red;
        } else if (statuses[i] == status_on) {
            indicator.caption = caption_on;
            indicator.colour = colour_green;
        }
    }
    own.alive_count = watchdog_reload;
    forget_silence();
    bad_frames_since_valid = 0;
    any_valid_since_connect = true;
    board_answering = true;
}

void panel_controller::Timer1_Timer()
{
    if (own.alive_count > 0)
        --own.alive_count;
    else
        show_connected();

    if (connection.port_lost)
        try_reopen();
    else
        reopen_if_silent();
    if (!connection.port_lost)
        send_next();
    notify();
}

void panel_controller::reopen_if_silent()
{
    if (connection.frames_until_silent_reopen > 0)
        return;
    connection.frames_until_silent_reopen = silent_port_repeat_ticks;
    link.close_port();
    const auto result = link.open_port(connection.connected_port_text);
    if (!result.ok) {
        link_lost(result.reason);
        return;
    }
    const int times = ++connection.silent_reopens;
    tell_observers([times](board_observer& o) { o.silent_port_reopened(times); });
}

void panel_controller::forget_silence()
{
    connection.frames_until_silent_reopen = silent_port_reopen_ticks;
    connection.silent_reopens = 0;
}

void panel_controller::try_reopen()
{
    if (--connection.reopen_countdown > 0)
        return;
    ++connection.reopen_attempts;
    const auto result = link.open_port(connection.connected_port_text);
    if (result.ok) {
        connection.port_lost = false;
        connection.lost_reason.clear();
        connection.reopen_attempts = 0;
        forget_silence();
    } else {
        connection.lost_reason = result.reason;
        connection.reopen_countdown = reopen_ticks;
    }
}

void panel_controller::show_disconnected()
{
    for (int i = 0; i < relay_count; ++i) {
        own.controls.open[i].enabled = false;
        own.controls.close[i].enabled = false;
        own.controls.Label6[i].enabled = false;
        own.controls.Label6[i].caption = caption_state;
    }
    own.controls.openall.enabled = false;
    own.controls.closeall.enabled = false;
    own.controls.Timer1.running = false;
    own.controls.chuankou_num.enabled = true;
    own.controls.open_comm.caption = caption_connect;
}

void panel_controller::show_connected()
{
    for (int i = 0; i < relay_count; ++i) {
        own.controls.open[i].enabled = true;
        own.controls.close[i].enabled = true;
        own.controls.Label6[i].enabled = true;
        own.controls.Label6[i].colour = colour_black;
        own.controls.Label6[i].caption = caption_state;
    }
    board_answering = false;
    own.controls.openall.enabled = true;
    own.controls.closeall.enabled = true;
    own.controls.Timer1.running = true;
    own.controls.chuankou_num.enabled = false;
    own.controls.open_comm.caption = caption_disconnect;
}

void panel_controller::Form_Load()
{
    show_disconnected();
    set_command(0, 0, 0, 0, 0);
    own.pending_flag = 0;
    notify();
}

void panel_controller::open_comm_Click()
{
    const auto& caption = own.controls.open_comm.caption;
    if (caption == caption_connect) {
        if (link.port_is_open())
            return;
        const std::string port_text = own.controls.chuankou_num.text;
        const auto result = link.open_port(port_text);
        if (!result.ok) {
            // The panel stays as it was: disconnected, port closed.
            notify();
            for_each_still_listed(views, [&](view& v) { v.connect_refused(result); });
            return;
        }
        connection.connected = true;
        connection.port_lost = false;
        connection.lost_reason.clear();
        connection.connected_port_text = port_text;
        forget_silence();
        bad_frames_since_valid = 0;
        any_valid_since_connect = false;
        show_connected();
        notify();
    } else if (caption == caption_disconnect) {
        // A lost port is already closed; disconnecting still has to stop
        // the retries and leave the connected state.
        if (!link.port_is_open() && !connection.port_lost)
            return;
        if (link.port_is_open())
            link.close_port();
        connection.connected = false;
        connection.port_lost = false;
        show_disconnected();
        drop_client_commands("The panel disconnected from the port.");
        notify();
    }
}

void panel_controller::status_frame_received(const frame& rx)
{
    own.rx_frame = rx;
    parse_status();
    notify();
    if (is_valid_status(rx)) {
        const auto reported = reported_statuses();
        tell_observers([&](board_observer& o) { o.status_frame_accepted(reported); });
    }
}

void panel_controller::link_lost(const std::string& reason)
{
    if (!connection.connected)
        return;
    connection.port_lost = true;
    connection.lost_reason = reason;
    connection.reopen_countdown = reopen_ticks;
    connection.reopen_attempts = 0;
    drop_client_commands(reason);
    notify();
}

void panel_controller::update_indicator_tooltips()
{
    // Runs on every tick and every answer, and the texts change only when
    // the link's condition or a caption does: building them each time
    // would be most of a tick's work, for a window that may not exist.
    const auto same_as_built = [this] {
        const auto& b = tooltips_for;
        if (!tooltips_built || b.connected != connection.connected || b.port_lost != connection.port_lost ||
            b.address_unusable != address_unusable || b.bad_frames_since_valid != bad_frames_since_valid ||
            b.any_valid_since_connect != any_valid_since_connect)
            return false;
        if (connection.port_lost &&
            (b.reopen_attempts != connection.reopen_attempts || b.lost_reason != connection.lost_reason))
            return false;
        for (std::size_t i = 0; i < b.captions.size(); ++i)
            if (b.captions[i] != own.controls.Label6[i].caption)
                return false;
        return true;
    };
    if (same_as_built())
        return;
    tooltips_built = true;
    tooltips_for = {connection.connected,
                    connection.port_lost,
                    connection.port_lost ? connection.lost_reason : std::string(),
                    connection.port_lost ? connection.reopen_attempts : 0,
                    address_unusable,
                    bad_frames_since_valid,
                    any_valid_since_connect,
                    {}};
    for (std::size_t i = 0; i < tooltips_for.captions.size(); ++i)
        tooltips_for.captions[i] = own.controls.Label6[i].caption;

    std::string unknown_why;
    if (!connection.connected) {
        unknown_why = "Not connected.";
    } else if (connection.port_lost) {
        unknown_why = connection.lost_reason + "\nReopening the port every second";
        if (connection.reopen_attempts > 0)
            unknown_why += " (" + std::to_string(connection.reopen_attempts) + " attempt" +
                           (connection.reopen_attempts == 1 ? "" : "s") + " so far)";
        unknown_why += ".";
    } else if (address_unusable) {
        unknown_why = "The address field holds no board address (0 to 255), so nothing is sent.";
    } else if (bad_frames_since_valid > 0) {
        unknown_why = "The board's answers are garbled (" + std::to_string(bad_frames_since_valid) +
                      " bad frame" + (bad_frames_since_valid == 1 ? "" : "s") +
                      "). Check the cable, the ground and that the board runs at 9600 baud.";
    } else if (any_valid_since_connect) {
        unknown_why = "The board stopped answering. Check its power and the cable.";
    } else {
        unknown_why = "No answer from the board yet. Check the address, the cable and the board's power.";
    }
    for (int i = 0; i < relay_count; ++i) {
        auto& indicator = own.controls.Label6[i];
        if (indicator.caption == caption_state)
            indicator.tooltip = unknown_why;
        else
            indicator.tooltip = "Relay " + std::to_string(i + 1) + " is " + indicator.caption +
                                ", as the board last reported. Click to switch it " +
                                (indicator.caption == caption_on ? "off." : "on.");
    }
}

}  // namespace relay
