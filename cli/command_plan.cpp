#include "cli/command_plan.h"

#include <algorithm>

namespace relay::cli {

std::optional<command_tuple> command_for(const options& opts, std::optional<relay_statuses> current)
{
    if (opts.command == command_kind::toggle)
        return current ? toggle_relay(opts.relay, *current) : std::nullopt;
    if (opts.command == command_kind::pulse)
        return single_relay(opts.relay, action_on);
    if (opts.command == command_kind::cycle)
        return single_relay(opts.relay, action_off);
    return fixed_command(opts.command, opts.relay);
}

std::optional<command_tuple> final_step_for(const options& opts)
{
    if (opts.command == command_kind::pulse)
        return single_relay(opts.relay, action_off);
    if (opts.command == command_kind::cycle)
        return single_relay(opts.relay, action_on);
    return std::nullopt;
}

int query_interval_ms(int timeout_ms) { return std::clamp(timeout_ms / 5, 10, 100); }

}  // namespace relay::cli
