#pragma once
// One line on stderr per event, prefixed with its syslog priority as
// journald reads it ("<3>" error, "<4>" warning, "<6>" info); on a terminal
// the prefix is still there, so what a test or an operator sees is what
// the journal gets.

#include <string>

namespace relay::relayd {

enum class priority : int { error = 3, warning = 4, info = 6 };

void log_line(priority level, const std::string& text);

}  // namespace relay::relayd
