#include "cli/command_plan.h"

#include <algorithm>

namespace relay::cli {

std::optional<command_tuple> command_for(const options& opts, std::optional<relay_statuses> current)
{
    switch (opts.command) {
    case subcommand::status:
    case subcommand::watch:
        return std::nullopt;
    case subcommand::on:
        return single_relay(opts.relay, action_on);
    case subcommand::off:
        return single_relay(opts.relay, action_off);
    case subcommand::all_on:
        return all_relays(action_on);
    case subcommand::all_off:
        return all_relays(action_off);
    case subcommand::toggle:
        if (!current)
            return std::nullopt;
        return toggle_relay(opts.relay, *current);
    }
    return std::nullopt;
}

int query_interval_ms(int timeout_ms) { return std::clamp(timeout_ms / 5, 10, 100); }

}  // namespace relay::cli
