#pragma once
// How a failed request is told, one table for every face: the code word in
// a control socket's reply and relayctl's exit status mean the same failure,
// so relayctl exits alike whether it reached the board itself or through
// the port's owner. Scripts test for both: neither ever changes.

#include <optional>
#include <string_view>

namespace relay {

enum class reply_code {
    usage,    // the request or command line makes no sense
    port,     // the port is not open, stopped working, or dropped the command
    timeout,  // no valid status frame in time
    refused,  // the board answered but did not switch
    busy,       // too many commands or clients waiting
    interlock,  // the board's interlock forbids what was asked
};

struct reply_code_row {
    reply_code code;
    const char* word;
    int exit_status;
};

inline constexpr reply_code_row reply_codes[] = {
    {reply_code::usage, "usage", 2},
    {reply_code::port, "port", 3},
    {reply_code::timeout, "timeout", 4},
    {reply_code::refused, "refused", 5},
    {reply_code::busy, "busy", 6},
    {reply_code::interlock, "interlock", 7},
};

constexpr const reply_code_row& reply_code_entry(reply_code code)
{
    for (const auto& row : reply_codes)
        if (row.code == code)
            return row;
    return reply_codes[1];  // not reached: every code has its row
}

constexpr int exit_status_for(reply_code code) { return reply_code_entry(code).exit_status; }
inline const char* reply_code_word(reply_code code) { return reply_code_entry(code).word; }

// The code a reply's word names; nothing for a word no owner sends.
std::optional<reply_code> parse_reply_code_word(std::string_view word);

}  // namespace relay
