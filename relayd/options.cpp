#include "relayd/options.h"

#include "text/shown_text.h"
#include "text/whole_number.h"

#include <optional>

namespace relay::relayd {
namespace {

parse_result usage_error(std::string why)
{
    parse_result r;
    r.what = parse_result::action::usage_error;
    r.error = std::move(why);
    return r;
}

bool takes_value(const std::string& name)
{
    return name == "--port" || name == "--address" || name == "--socket" || name == "--config" || name == "--mqtt" ||
           name == "--http";
}

}  // namespace

parse_result parse_args(const std::vector<std::string>& args)
{
    parse_result result;
    result.what = parse_result::action::run;
    bool port_given = false;
    bool address_given = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.what = parse_result::action::help;
            return result;
        }
        if (arg == "--version") {
            result.what = parse_result::action::version;
            return result;
        }
        if (arg == "--simulate") {
            result.opts.simulate = true;
            continue;
        }
        if (arg == "--system") {
            result.opts.system = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-')
            return usage_error("unexpected argument '" + shown_text(arg) + "' (relayd takes options only)");

        std::string name = arg;
        std::optional<std::string> value;
        const auto equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (!takes_value(name))
            return usage_error("unknown option '" + shown_text(name) + "'");
        if (!value) {
            if (i + 1 >= args.size())
                return usage_error("option '" + name + "' needs a value");
            value = args[++i];
        }
        if (value->empty())
            return usage_error("option '" + name + "' needs a value that is not empty");

        if (name == "--port") {
            result.opts.port = *value;
            port_given = true;
        } else if (name == "--address") {
            const auto a = whole_number(*value, 255);
            if (!a)
                return usage_error("--address must be a whole number from 0 to 255, not '" + shown_text(*value) + "'");
            result.opts.address = static_cast<std::uint8_t>(*a);
            address_given = true;
        } else if (name == "--socket") {
            if ((*value)[0] != '/')
                return usage_error("--socket needs an absolute path, not '" + shown_text(*value) + "'");
            result.opts.socket = *value;
        } else if (name == "--http") {
            // Checked with the [http] keys, where the settings come together.
            result.opts.http = *value;
        } else if (name == "--mqtt") {
            // Checked with the [mqtt] keys, where the settings come together.
            result.opts.mqtt_url = *value;
        } else {
            result.opts.config = *value;
        }
    }

    // The file names each board's port, address and socket; a second source
    // for them would leave the reader guessing which one wins.
    if (!result.opts.config.empty()) {
        if (port_given)
            return usage_error("--port cannot be combined with --config: give each board's port in the file");
        if (address_given)
            return usage_error("--address cannot be combined with --config: give each board's address in the file");
        if (!result.opts.socket.empty())
            return usage_error("--socket cannot be combined with --config: give each board's socket in the file");
    }
    return result;
}

}  // namespace relay::relayd
