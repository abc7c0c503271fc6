#pragma once
// relay-panel's command line, read before any window system is touched, so
// that help, the version and a mistyped option are answered over ssh too.
// Qt's own options (-platform, -style, -reverse...) are left for Qt; any
// other option is a mistake, not something to ignore.

#include <string>
#include <vector>

namespace relay {

struct panel_command_line {
    enum class action { run, help, version, usage_error };
    action what = action::run;
    bool simulate = false;
    std::string error;  // one line, set for usage_error
};

// args are the words after the program name.
panel_command_line read_panel_command_line(const std::vector<std::string>& args);

extern const char* const panel_usage;

}  // namespace relay
