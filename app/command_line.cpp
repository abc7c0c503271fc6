#include "app/command_line.h"

namespace relay {
namespace {

// The options every Qt program takes, as QGuiApplication, QApplication and
// the X11 platform read them: those that take a value, and the others.
const char* const qt_options_with_value[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "qmljsdebugger",
};
const char* const qt_flags[] = {"reverse", "widgetcount"};

panel_command_line usage_error(std::string why)
{
    panel_command_line result;
    result.what = panel_command_line::action::usage_error;
    result.error = std::move(why);
    return result;
}

}  // namespace

const char* const panel_usage =
    "Usage: relay-panel [--simulate]\n"
    "\n"
    "Control panel for a four-channel relay board on a serial port. Pick the\n"
    "port (1 is the first serial port, USB adapters first; a device name such\n"
    "as ttyUSB0 or /dev/pts/3 works too) and the board address, press\n"
    "\"connect\", and switch the relays. While connected the panel serves the\n"
    "port's control socket, so relayctl and scripts can share the board.\n"
    "\n"
    "  --simulate   start a simulated board inside the panel and make it port 1\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, -reverse and the others) work too.\n";

panel_command_line read_panel_command_line(const std::vector<std::string>& args)
{
    panel_command_line result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.what = panel_command_line::action::help;
            return result;
        }
        if (arg == "--version") {
            result.what = panel_command_line::action::version;
            return result;
        }
        if (arg == "--simulate") {
            result.simulate = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-')
            return usage_error("unexpected argument '" + arg + "'");
        // Qt takes -name and --name alike, and some as -name=value.
        std::string name = arg.substr(arg.rfind("--", 0) == 0 ? 2 : 1);
        const auto equals = name.find('=');
        const bool has_value = equals != std::string::npos;
        name = name.substr(0, equals);
        bool known = false;
        for (const char* option : qt_options_with_value) {
            if (name != option)
                continue;
            known = true;
            if (!has_value && ++i >= args.size())
                return usage_error("option '" + arg + "' needs a value");
        }
        for (const char* flag : qt_flags)
            known = known || (name == flag && !has_value);
        if (!known)
            return usage_error("unknown option '" + arg + "'");
    }
    return result;
}

}  // namespace relay
