#include "service/request.h"

#include "core/timing.h"
#include "protocol/relay_commands.h"
#include "text/utf8.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace relay {
namespace {

using json = nlohmann::json;

// Control bytes have no place in a JSON line outside escapes; NUL in
// particular would cut the line short for anything reading it as C text.
bool has_control_bytes(std::string_view text)
{
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 && byte != '\t')
            return true;
        if (byte == 0x7f)
            return true;
    }
    return false;
}

usage_error refuse(std::string why, std::string id = {}) { return usage_error{std::move(why), std::move(id)}; }

bool whole_number_in(const json& value, double low, double high)
{
    if (!value.is_number())
        return false;
    const double number = value.get<double>();
    return std::isfinite(number) && number == std::floor(number) && number >= low && number <= high;
}

}  // namespace

parsed_request parse_request(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > max_request_bytes)
        return refuse("The line is longer than " + std::to_string(max_request_bytes) + " bytes.");
    if (line.find_first_not_of(" \t") == std::string_view::npos)
        return refuse("The line is empty; send one JSON object such as {\"cmd\":\"status\"}.");
    if (has_control_bytes(line))
        return refuse("The line holds control bytes; send one JSON object per line.");
    if (!is_valid_utf8(line))
        return refuse("The line is not valid UTF-8.");
    json document;
    try {
        document = json::parse(line.begin(), line.end());
    } catch (const json::parse_error& error) {
        return refuse("The line is not JSON (it goes wrong at byte " + std::to_string(error.byte) + ").");
    } catch (const json::exception&) {
        // Such as a number beyond what a double holds.
        return refuse("The line is not JSON that can be read: a number in it is out of range.");
    }
    if (!document.is_object())
        return refuse("The line must be one JSON object such as {\"cmd\":\"status\"}.");
    request r;
    if (const auto id = document.find("id"); id != document.end())
        r.id = id->dump();
    const auto cmd = document.find("cmd");
    if (cmd == document.end())
        return refuse(std::string("The request has no \"cmd\"; use ") + command_words_listed() + ".", r.id);
    if (!cmd->is_string())
        return refuse("\"cmd\" must be a string.", r.id);
    const auto& word = cmd->get_ref<const std::string&>();
    const auto found = parse_command_word(word);
    if (!found) {
        // The word is echoed only when short, so a reply stays one short line.
        const std::string shown = word.size() <= 32 ? " \"" + word + "\"" : "";
        return refuse("Unknown command" + shown + "; use " + command_words_listed() + ".", r.id);
    }
    r.kind = *found;
    const auto relay_value = document.find("relay");
    if (!takes_relay(*found)) {
        if (relay_value != document.end())
            return refuse(std::string("\"") + command_word(*found) + "\" takes no relay.", r.id);
        if (document.contains("ms"))
            return refuse(std::string("\"") + command_word(*found) + "\" takes no \"ms\".", r.id);
        return r;
    }
    if (relay_value == document.end())
        return refuse(std::string("\"") + command_word(*found) + "\" needs \"relay\": 1, 2, 3 or 4.", r.id);
    const double number = relay_value->is_number() ? relay_value->get<double>() : 0.0;
    if (relay_value->is_string() && !relay_value->get_ref<const std::string&>().empty())
        r.relay_name = relay_value->get<std::string>();
    else if (!relay_value->is_number() || !std::isfinite(number) || number != std::floor(number) ||
             !is_relay_index(static_cast<int>(std::clamp(number, -1.0, 100.0))))
        return refuse("\"relay\" must be the number 1, 2, 3 or 4, or a relay's name.", r.id);
    else
        r.relay = static_cast<int>(number);
    const auto ms = document.find("ms");
    if (!takes_duration(*found)) {
        if (ms != document.end())
            return refuse(std::string("\"") + command_word(*found) + "\" takes no \"ms\".", r.id);
        return r;
    }
    const auto low = std::to_string(min_step_duration.count());
    const auto high = std::to_string(max_step_duration.count());
    if (ms == document.end())
        return refuse(std::string("\"") + command_word(*found) +
                          "\" needs \"ms\": a whole number of milliseconds from " + low + " to " + high + ".",
                      r.id);
    if (!whole_number_in(*ms, double(min_step_duration.count()), double(max_step_duration.count())))
        return refuse("\"ms\" must be a whole number of milliseconds from " + low + " to " + high + ".", r.id);
    r.duration = std::chrono::milliseconds{static_cast<std::int64_t>(ms->get<double>())};
    return r;
}

}  // namespace relay
