#include "mqtt/set_command.h"

#include "core/step_duration.h"

#include <cstdio>
#include <variant>

namespace relay::mqtt {
namespace {

enum class word { none, on, off, toggle };

// Case-insensitive, but nothing around the word: "on " is not "on".
word payload_word(const std::string& payload)
{
    if (payload.size() > 6)
        return word::none;
    std::string lower;
    for (const char c : payload)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower == "on")
        return word::on;
    if (lower == "off")
        return word::off;
    if (lower == "toggle")
        return word::toggle;
    return word::none;
}

set_request refuse(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

std::string shown_payload(const std::string& payload, std::size_t max_bytes)
{
    std::string shown = "\"";
    const auto n = std::min(payload.size(), max_bytes);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(payload[i]);
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    shown += '"';
    if (payload.size() > n)
        shown += "... (" + std::to_string(payload.size()) + " bytes)";
    return shown;
}

set_request parse_set_request(const std::string& subtopic, const std::string& payload, bool retained,
                              const relay_statuses& reported)
{
    if (payload.empty())
        return {std::nullopt, {}, true};
    // A retained command would switch the relay again at every reconnect.
    if (retained)
        return refuse("a retained command is ignored: publish commands without the retain flag (and clear this "
                      "one with an empty retained message)");
    const auto asked = payload_word(payload);
    if (subtopic == "all/set") {
        if (asked == word::on)
            return {all_relays(action_on), {}};
        if (asked == word::off)
            return {all_relays(action_off), {}};
        return refuse("all/set takes ON or OFF");
    }
    // relay/<n>/<what>: one digit, and only set, pulse or cycle after it.
    const std::string head = "relay/";
    const auto what = subtopic.size() > head.size() + 2 && subtopic.compare(0, head.size(), head) == 0 &&
                              subtopic[head.size() + 1] == '/'
                          ? subtopic.substr(head.size() + 2)
                          : std::string();
    const std::optional<command_kind> timed = what == "pulse"   ? std::optional(command_kind::pulse)
                                              : what == "cycle" ? std::optional(command_kind::cycle)
                                                                : std::nullopt;
    if (what.empty())
        return refuse("no such relay: relays are numbered 1 to " + std::to_string(relay_count));
    if (what != "set" && !timed)
        return refuse("a relay's topics are set, pulse and cycle");
    const int relay = subtopic[head.size()] - '0';
    if (!is_relay_index(relay))
        return refuse("no such relay: relays are numbered 1 to " + std::to_string(relay_count));
    if (timed) {
        const auto duration = parse_step_milliseconds(payload);
        if (const auto* why = std::get_if<std::string>(&duration))
            return refuse("relay/" + std::to_string(relay) + "/" + what + " takes the milliseconds: " + *why);
        set_request r;
        r.timed = timed_step{*timed, relay, std::get<std::chrono::milliseconds>(duration)};
        return r;
    }
    switch (asked) {
    case word::on:
        return {single_relay(relay, action_on), {}};
    case word::off:
        return {single_relay(relay, action_off), {}};
    case word::toggle:
        if (const auto command = toggle_relay(relay, reported))
            return {command, {}};
        return refuse("relay " + std::to_string(relay) +
                      " cannot be toggled while its state is unknown (the board has not reported it)");
    case word::none:
        break;
    }
    return refuse("a relay's set topic takes ON, OFF or TOGGLE");
}

}  // namespace relay::mqtt
