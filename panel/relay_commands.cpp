// The relay buttons and indicators only fill the mailbox; the next tick
// sends the command, and only the board's answer changes an indicator.
// Attached to the port's owner, each becomes a command in the owner's queue,
// and only the owner's report of the board's answer changes an indicator.

#include "panel/panel_controller.h"
#include "protocol/relay_commands.h"

namespace relay {

void panel_controller::open_Click(int index)
{
    if (!is_relay_index(index))
        return;
    if (owner_attached)
        return send_to_owner(command_kind::on, index);
    const auto c = single_relay(index, action_on);
    set_command(c.code, c.actions[0], c.actions[1], c.actions[2], c.actions[3]);
}

void panel_controller::close_Click(int index)
{
    if (!is_relay_index(index))
        return;
    if (owner_attached)
        return send_to_owner(command_kind::off, index);
    const auto c = single_relay(index, action_off);
    set_command(c.code, c.actions[0], c.actions[1], c.actions[2], c.actions[3]);
}

void panel_controller::openall_Click()
{
    if (owner_attached)
        return send_to_owner(command_kind::all_on, 0);
    set_command(code_set_relays, action_on, action_on, action_on, action_on);
}

void panel_controller::closeall_Click()
{
    if (owner_attached)
        return send_to_owner(command_kind::all_off, 0);
    set_command(code_set_relays, action_off, action_off, action_off, action_off);
}

void panel_controller::Label6_Click(int index)
{
    if (!is_relay_index(index))
        return;
    // Toggles from what the indicator shows, not from a fresh answer.
    const auto state = (owner_attached ? presented.states : core.states())[static_cast<std::size_t>(index - 1)];
    if (state == relay_state::off)
        open_Click(index);
    else if (state == relay_state::on)
        close_Click(index);
}

}  // namespace relay
