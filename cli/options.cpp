#include "cli/options.h"

#include "core/relay_names.h"
#include "core/step_duration.h"
#include "text/number_text.h"
#include "text/shown_text.h"
#include "text/whole_number.h"

#include <optional>
#include <variant>

namespace relay::cli {
namespace {

parse_result usage_error(std::string why)
{
    parse_result r;
    r.what = parse_result::action::usage_error;
    r.error = std::move(why);
    return r;
}

}  // namespace

parse_result parse_args(const std::vector<std::string>& args)
{
    parse_result result;
    result.what = parse_result::action::run;
    std::vector<std::string> words;
    bool options_ended = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            result.what = parse_result::action::help;
            return result;
        }
        if (arg == "--version") {
            result.what = parse_result::action::version;
            return result;
        }
        if (arg == "--json") {
            result.opts.json = true;
            continue;
        }

        std::string name = arg;
        std::optional<std::string> value;
        const auto equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (name != "--port" && name != "--address" && name != "--timeout" && name != "--socket" &&
            name != "--count")
            return usage_error("unknown option '" + shown_text(name) + "'");
        if (!value) {
            if (i + 1 >= args.size())
                return usage_error("option '" + name + "' needs a value");
            value = args[++i];
        }

        if (name == "--port") {
            if (value->empty())
                return usage_error("--port needs a port number or a device name");
            // Anything that reads as a number is a port number, and only
            // 1 to 32767 name a port; other text names a device.
            if (parse_decimal(*value)) {
                const auto n = whole_number(*value, max_port_number);
                if (!n || *n < 1)
                    return usage_error("--port must be a port number from 1 to " + std::to_string(max_port_number) +
                                       " or a device name, not '" + shown_text(*value) + "'");
            }
            result.opts.port = *value;
            result.opts.port_given = true;
        } else if (name == "--socket") {
            if (value->empty())
                return usage_error("--socket needs the path of a socket");
            result.opts.socket = *value;
        } else if (name == "--count") {
            const auto n = whole_number(*value, max_count);
            if (!n || *n == 0)
                return usage_error("--count must be a whole number from 1 to " + std::to_string(max_count) + ", not '" +
                                   shown_text(*value) + "'");
            result.opts.count = static_cast<int>(*n);
        } else if (name == "--address") {
            const auto a = whole_number(*value, 255);
            if (!a)
                return usage_error("--address must be a whole number from 0 to 255, not '" + shown_text(*value) + "'");
            result.opts.address = static_cast<std::uint8_t>(*a);
        } else {
            const auto t = whole_number(*value, max_timeout_ms);
            if (!t || *t == 0)
                return usage_error("--timeout must be a whole number of milliseconds from 1 to " +
                                   std::to_string(max_timeout_ms) + ", not '" + shown_text(*value) + "'");
            result.opts.timeout_ms = static_cast<int>(*t);
        }
    }

    if (words.empty())
        return usage_error(std::string("no command given (") + command_words_listed() + ")");
    const auto found = parse_command_word(words[0]);
    if (!found)
        return usage_error("unknown command '" + shown_text(words[0]) + "'");
    result.opts.command = *found;

    const bool with_relay = takes_relay(*found);
    const bool with_duration = takes_duration(*found);
    const std::size_t expected = 1 + (with_relay ? 1 : 0) + (with_duration ? 1 : 0);
    if (with_duration && words.size() < expected)
        return usage_error(std::string("'") + command_word(*found) + "' needs a relay and a duration, such as '" +
                           command_word(*found) + " 2 500ms'");
    if (with_relay && words.size() < 2)
        return usage_error(std::string("'") + command_word(*found) + "' needs a relay number from 1 to 4");
    if (words.size() > expected)
        return usage_error("unexpected argument '" + shown_text(words[expected]) + "'");
    if (result.opts.count != 0 && *found != command_kind::watch)
        return usage_error("--count applies to 'watch' only");
    if (with_relay) {
        // A word that reads as a number is a relay number; other text is a
        // name for the port's owner to resolve.
        if (const auto r = resolve_relay(relay_names{}, words[1]))
            result.opts.relay = *r;
        else if (words[1].empty() || parse_decimal(words[1]) || !relay_name_error({}, 1, words[1]).empty())
            return usage_error("the relay must be 1, 2, 3 or 4 or a relay's name, not '" + shown_text(words[1]) + "'");
        else
            result.opts.relay_name = words[1];
    }
    if (with_duration) {
        const auto duration = parse_step_duration(words[2]);
        if (const auto* why = std::get_if<std::string>(&duration))
            return usage_error(*why);
        result.opts.duration = std::get<std::chrono::milliseconds>(duration);
    }
    return result;
}

}  // namespace relay::cli
