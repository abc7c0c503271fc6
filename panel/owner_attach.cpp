// "connect" on a port that a program holds and serves: the window attaches
// to that owner and shows the board as the owner reports it. Green and red
// come only from the owner's events, which come from the board's answers;
// while the owner's link is silent or lost, or the owner is away and looked
// for again each second, the indicators read "state". The window never
// opens the port while attached, and retries no command.

#include "panel/panel_controller.h"

#include "core/still_listed.h"
#include "serial/port_catalog.h"

#include <algorithm>

namespace relay {
namespace {

// "through relayd, pid 1234", as the window's title carries it.
std::string through_words(const owner_report& seen)
{
    const std::string who = seen.program.empty() ? "the port's owner" : seen.program;
    return "through " + who + (seen.pid > 0 ? ", pid " + std::to_string(seen.pid) : std::string());
}

std::string who_words(const owner_report& seen)
{
    const std::string who = seen.program.empty() ? "The port's owner" : seen.program;
    return who + (seen.pid > 0 ? " (pid " + std::to_string(seen.pid) + ")" : std::string());
}

std::string unknown_words(const owner_report& seen)
{
    if (!seen.attached)
        return seen.why + "\nAttaching again every second; the port stays with its owner.";
    if (seen.link == link_condition::silent)
        return who_words(seen) + " gets no answer from the board. Check its power and the cable.";
    if (seen.link == link_condition::lost)
        return who_words(seen) + " has lost the board's port and is reopening it.";
    return "No answer from the board yet.";
}

}  // namespace

void panel_controller::set_board_owner(board_owner* owner_)
{
    if (owner_attached)
        leave_owner();
    owner = owner_;
}

bool panel_controller::attach_to_owner()
{
    if (!owner)
        return false;
    const auto resolved = resolve_port(controls_.chuankou_num.text, core.catalog());
    if (!resolved.port)
        return false;
    switch (owner->attach(resolved.port->path, this)) {
    case board_owner::found::none:
        return false;
    case board_owner::found::forbidden: {
        const auto why = owner->report().why;
        notify();
        for_each_still_listed(views, [&why](view& v) { v.show_message("Cannot connect", why); });
        return true;
    }
    case board_owner::found::attaching:
        break;
    }
    own_address = {controls_.add.text, controls_.VScroll1.value};
    owner_attached = true;
    show_owner();
    return true;
}

void panel_controller::leave_owner()
{
    // Told nothing more from here on, not even the detaching itself.
    owner_attached = false;
    owner->detach();
    controls_.add = {own_address.text, true};
    controls_.VScroll1 = {own_address.value, true};
    controls_.seen_through.clear();
    show_disconnected();
    presented = {false, all_unknown};
    tooltips_built = false;
    notify();
}

void panel_controller::owner_changed()
{
    if (owner_attached)
        show_owner();
}

void panel_controller::owner_refused(const std::string& words)
{
    if (!owner_attached)
        return;
    for_each_still_listed(views, [&words](view& v) { v.show_message("Command not carried out", words); });
}

void panel_controller::send_to_owner(command_kind kind, int relay) { owner->send(kind, relay); }

void panel_controller::show_owner()
{
    const auto seen = owner->report();
    const bool answering = seen.attached && seen.link == link_condition::answering;
    presented = {true, answering ? seen.relays : all_unknown};

    for (int i = 0; i < relay_count; ++i) {
        controls_.open[i].enabled = true;
        controls_.close[i].enabled = true;
        auto& indicator = controls_.Label6[static_cast<std::size_t>(i)];
        indicator.enabled = true;
        show_relay_state(indicator, presented.states[static_cast<std::size_t>(i)]);
        indicator.tooltip = indicator.caption == caption_state
                                ? unknown_words(seen)
                                : "Relay " + std::to_string(i + 1) + " is " + indicator.caption +
                                      ", as the board last reported " + through_words(seen) + ". Click to switch it " +
                                      (indicator.caption == caption_on ? "off." : "on.");
    }
    controls_.openall.enabled = true;
    controls_.closeall.enabled = true;
    // The owner polls; the window does not.
    controls_.Timer1.running = false;
    controls_.chuankou_num.enabled = false;
    controls_.open_comm.caption = caption_disconnect;
    if (seen.address) {
        controls_.add.text = std::to_string(*seen.address);
        controls_.VScroll1.value = std::clamp(int{*seen.address}, spin_minimum, spin_maximum);
    }
    controls_.add.enabled = false;
    controls_.VScroll1.enabled = false;
    controls_.seen_through = seen.attached ? through_words(seen) : std::string();
    notify();
}

}  // namespace relay
