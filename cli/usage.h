#pragma once
// The words relayctl prints about itself.

#include <string>

namespace relay::cli {

// The --help page: synopsis, commands, options and exit status.
std::string help_text();

// "relayctl 0.1.0"
std::string version_text();

// What goes to stderr after a usage error.
std::string usage_error_text(const std::string& error);

}  // namespace relay::cli
