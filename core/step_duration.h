#pragma once
// How long a pulse or a cycle holds its relay, as people write it on a
// command line or in the configuration file ("500ms", "1.5s", "10min"), and
// as a number of milliseconds from a machine (an MQTT payload).

#include <chrono>
#include <string>
#include <string_view>
#include <variant>

namespace relay {

// The duration, or why the text is not one, in plain words.
using step_duration_result = std::variant<std::chrono::milliseconds, std::string>;

// A decimal number and a unit: "ms", "s", "m" or "min", "h"; a bare number
// is seconds. The result is rounded to the millisecond and must lie within
// min_step_duration and max_step_duration.
step_duration_result parse_step_duration(std::string_view text);

// A whole number of milliseconds, digits only, within the same bounds.
step_duration_result parse_step_milliseconds(std::string_view text);

// Why a duration is out of bounds; nothing when it is within them.
std::string step_duration_range_error(std::chrono::milliseconds duration);

}  // namespace relay
