#include "core/step_duration.h"

#include "core/timing.h"
#include "text/shown_text.h"

#include <cmath>
#include <cstdlib>

namespace relay {
namespace {

using std::chrono::milliseconds;

struct unit_row {
    const char* word;
    double ms;
};

constexpr unit_row units[] = {
    {"ms", 1.0}, {"s", 1000.0}, {"", 1000.0}, {"m", 60000.0}, {"min", 60000.0}, {"h", 3600000.0},
};

const char* const duration_form = "a number with ms, s, m, min or h, such as 500ms, 1.5s or 10min";

std::string not_a_duration(std::string_view text)
{
    return "'" + shown_text(text, 64) + "' is not a duration: write " + duration_form;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string step_duration_range_error(milliseconds duration)
{
    if (duration >= min_step_duration && duration <= max_step_duration)
        return {};
    return "a duration must be from " + std::to_string(min_step_duration.count()) + " ms to " +
           std::to_string(std::chrono::duration_cast<std::chrono::hours>(max_step_duration).count()) + " h";
}

step_duration_result parse_step_duration(std::string_view text)
{
    // Digits, at most one point with a digit on each side of it; no sign,
    // no exponent, no blanks: a typo must not become a duration.
    std::size_t end = 0;
    while (end < text.size() && is_digit(text[end]))
        ++end;
    const std::size_t whole_digits = end;
    if (end < text.size() && text[end] == '.') {
        ++end;
        const std::size_t fraction_start = end;
        while (end < text.size() && is_digit(text[end]))
            ++end;
        if (end == fraction_start)
            return not_a_duration(text);
    }
    if (whole_digits == 0 || end > 15)
        return not_a_duration(text);
    const std::string_view unit = text.substr(end);
    for (const auto& row : units) {
        if (unit != row.word)
            continue;
        const double number = std::strtod(std::string(text.substr(0, end)).c_str(), nullptr);
        const double ms = std::round(number * row.ms);
        // Anything beyond a day by far is out of range before it is cast.
        const auto duration =
            ms > 1e12 ? max_step_duration + milliseconds(1) : milliseconds(static_cast<long long>(ms));
        if (auto range = step_duration_range_error(duration); !range.empty())
            return range + ", not " + shown_text(text, 64);
        return duration;
    }
    return not_a_duration(text);
}

step_duration_result parse_step_milliseconds(std::string_view text)
{
    if (text.empty() || text.size() > 12)
        return "'" + shown_text(text, 64) + "' is not a whole number of milliseconds";
    long long ms = 0;
    for (const char c : text) {
        if (!is_digit(c))
            return "'" + shown_text(text, 64) + "' is not a whole number of milliseconds";
        ms = ms * 10 + (c - '0');
    }
    if (auto range = step_duration_range_error(milliseconds(ms)); !range.empty())
        return range + " (" + std::to_string(min_step_duration.count()) + " to " +
               std::to_string(max_step_duration.count()) + " milliseconds), not " + std::string(text);
    return milliseconds(ms);
}

}  // namespace relay
