#pragma once
// What relayctl's exit status tells a calling script. The numbers are part
// of the tool's interface: scripts test for them, so they never change. A
// failure's number is the one its reply code carries (protocol/reply_code.h).

#include "protocol/reply_code.h"

namespace relay::cli {

enum exit_code : int {
    exit_success = 0,  // for commands: the board confirmed the new state
    exit_output = 1,   // the result could not be written (standard output full or closed)
    // The command line makes no sense, or names no port among several owners.
    exit_usage = exit_status_for(reply_code::usage),
    exit_port = exit_status_for(reply_code::port),          // the port cannot be opened or stopped working
    exit_no_answer = exit_status_for(reply_code::timeout),  // no valid status frame within the timeout
    exit_not_taken = exit_status_for(reply_code::refused),  // the board answered but did not switch
    exit_busy = exit_status_for(reply_code::busy),  // the port's owner has too many commands or clients waiting
    exit_interlock = exit_status_for(reply_code::interlock),  // the board's interlock forbids the command
};

}  // namespace relay::cli
