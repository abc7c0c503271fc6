#pragma once
// relayctl's command line, read into plain values. No Qt and no port here,
// so every corner of the syntax can be tested in memory.

#include "protocol/command_kind.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace relay::cli {

struct options {
    std::string port = "1";  // a port number as the panel counts them, or a device
    // --port was given. Without it, the one owner serving a board here is
    // used before port 1.
    bool port_given = false;
    std::uint8_t address = 1;
    bool json = false;
    int timeout_ms = 1000;
    command_kind command = command_kind::status;
    int relay = 0;  // 1 to 4 for on, off, toggle, pulse and cycle; 0 for the others
    // The relay given by a name: only the port's owner knows the board's
    // names, so relay stays 0 and the owner resolves it.
    std::string relay_name;
    // pulse and cycle: how long the relay stays switched.
    std::chrono::milliseconds duration{0};
    // Talk to the owner of a port through this socket instead of finding it
    // from the port; empty to find it (or to use the port itself).
    std::string socket;
    int count = 0;  // watch: stop after this many lines; 0 for never
};

struct parse_result {
    enum class action { run, help, version, usage_error };
    action what = action::usage_error;
    options opts;
    std::string error;  // one line, set for usage_error
};

// Port numbers count from 1; the largest fits the 16-bit number the panel
// reads from its port field.
constexpr long max_port_number = 32767;

// The longest --timeout accepted; anything longer is surely a typo.
constexpr int max_timeout_ms = 3600000;
// The largest --count accepted.
constexpr int max_count = 1000000000;

// args are the words after the program name.
parse_result parse_args(const std::vector<std::string>& args);

}  // namespace relay::cli
