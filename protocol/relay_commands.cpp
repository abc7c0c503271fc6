#include "protocol/relay_commands.h"

#include <algorithm>

namespace relay {

command_tuple single_relay(int relay, std::uint8_t action)
{
    command_tuple command{code_set_relays, {}};
    if (is_relay_index(relay))
        command.actions[static_cast<std::size_t>(relay - 1)] = action;
    return command;
}

command_tuple all_relays(std::uint8_t action) { return {code_set_relays, {action, action, action, action}}; }

std::optional<command_tuple> toggle_relay(int relay, const relay_statuses& reported)
{
    if (!is_relay_index(relay))
        return std::nullopt;
    const auto now = reported[static_cast<std::size_t>(relay - 1)];
    if (now == status_on)
        return single_relay(relay, action_off);
    if (now == status_off)
        return single_relay(relay, action_on);
    return std::nullopt;
}

bool confirms(const command_tuple& sent, const relay_statuses& reported)
{
    for (std::size_t i = 0; i < sent.actions.size(); ++i) {
        if (sent.actions[i] == action_on && reported[i] != status_on)
            return false;
        if (sent.actions[i] == action_off && reported[i] != status_off)
            return false;
    }
    return true;
}

const char* status_word(std::uint8_t status)
{
    if (status == status_on)
        return "on";
    if (status == status_off)
        return "off";
    return "unknown";
}

std::string describe_command(const command_tuple& command)
{
    const auto word = [](std::uint8_t action) { return action == action_on ? "on" : "off"; };
    const auto& a = command.actions;
    if (a[0] != action_leave && std::all_of(a.begin(), a.end(), [&](std::uint8_t x) { return x == a[0]; }))
        return std::string("switch all relays ") + word(a[0]);
    std::string out;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == action_leave)
            continue;
        out += out.empty() ? "switch relay " : ", relay ";
        out += std::to_string(i + 1) + ' ' + word(a[i]);
    }
    return out.empty() ? "leave every relay as it is" : out;
}

}  // namespace relay
