#include "cli/command_plan.h"

#include <algorithm>

namespace relay::cli {
namespace {

command_tuple set_one(int relay, std::uint8_t action)
{
    command_tuple c{code_set_relays, {}};
    c.actions[static_cast<std::size_t>(relay - 1)] = action;
    return c;
}

command_tuple set_all(std::uint8_t action) { return {code_set_relays, {action, action, action, action}}; }

}  // namespace

std::optional<command_tuple> command_for(const options& opts, std::optional<relay_statuses> current)
{
    switch (opts.command) {
    case subcommand::status:
        return std::nullopt;
    case subcommand::on:
        return set_one(opts.relay, action_on);
    case subcommand::off:
        return set_one(opts.relay, action_off);
    case subcommand::all_on:
        return set_all(action_on);
    case subcommand::all_off:
        return set_all(action_off);
    case subcommand::toggle: {
        if (!current || opts.relay < 1 || opts.relay > relay_count)
            return std::nullopt;
        const auto now = (*current)[static_cast<std::size_t>(opts.relay - 1)];
        if (now == status_on)
            return set_one(opts.relay, action_off);
        if (now == status_off)
            return set_one(opts.relay, action_on);
        return std::nullopt;
    }
    }
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

int query_interval_ms(int timeout_ms) { return std::clamp(timeout_ms / 5, 10, 100); }

}  // namespace relay::cli
