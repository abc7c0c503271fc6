#pragma once
// Text from outside (a configuration file, a command line, a typed field)
// made safe to quote in a message that reaches a terminal or the journal.
// Control characters (C0, DEL and C1) and bytes that are not UTF-8 are
// shown as \xNN, so an escape sequence in the input is printed rather than
// obeyed by the terminal; other UTF-8 text stands as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace relay {

// Text longer than max_bytes is cut at a character and says its length:
// "xxxx... (10000 bytes)", so that one bad line yields one short message.
std::string shown_text(std::string_view text, std::size_t max_bytes = 256);

}  // namespace relay
