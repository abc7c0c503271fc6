#pragma once
// Which frame a command puts on the line and which answer proves that the
// board took it.

#include "cli/options.h"
#include "cli/report.h"
#include "protocol/command_kind.h"
#include "protocol/relay_commands.h"

#include <optional>
#include <string>

namespace relay::cli {

// The set-relays tuple for on, off, all-on and all-off, and the first step
// of a pulse (on) or a cycle (off). Toggle needs the relay's present status
// and yields nothing while that is unknown; status yields nothing at all.
std::optional<command_tuple> command_for(const options& opts, std::optional<relay_statuses> current = std::nullopt);

// The step that ends a pulse (off) or a cycle (on) once its time is up;
// nothing for the other commands.
std::optional<command_tuple> final_step_for(const options& opts);

using relay::confirms;
using relay::describe_command;

// How often to ask the board while waiting. A tenth of a second matches the
// panel's poll, but a short timeout still gets several tries.
int query_interval_ms(int timeout_ms);

}  // namespace relay::cli
