#pragma once
// What relayctl's exit status tells a calling script. The numbers are part
// of the tool's interface: scripts test for them, so they never change.

namespace relay::cli {

enum exit_code : int {
    exit_success = 0,       // for commands: the board confirmed the new state
    exit_output = 1,        // the result could not be written (standard output full or closed)
    exit_usage = 2,         // the command line makes no sense, or names no port among several owners
    exit_port = 3,          // the port cannot be opened or stopped working
    exit_no_answer = 4,     // no valid status frame within the timeout
    exit_not_taken = 5,     // the board answered but did not switch
    exit_busy = 6,          // the port's owner has too many commands or clients waiting
};

}  // namespace relay::cli
