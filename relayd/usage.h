#pragma once
// The words relayd prints about itself.

#include <string>

namespace relay::relayd {

std::string help_text();
// "relayd 0.1.0"
std::string version_text();
// What goes to stderr after a usage error.
std::string usage_error_text(const std::string& error);

}  // namespace relay::relayd
