#include "cli/command_plan.h"

#include <algorithm>

namespace relay::cli {

std::optional<command_tuple> command_for(const options& opts, std::optional<relay_statuses> current)
{
    if (opts.command == command_kind::toggle)
        return current ? toggle_relay(opts.relay, *current) : std::nullopt;
    return fixed_command(opts.command, opts.relay);
}

int query_interval_ms(int timeout_ms) { return std::clamp(timeout_ms / 5, 10, 100); }

}  // namespace relay::cli
