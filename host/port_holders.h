#pragma once
// Which programs hold a serial device open, read from /proc, so that "the
// port is in use" can say by whom. Only processes whose /proc/<pid>/fd this
// user may read are seen: one's own, or all of them as root.

#include <string>
#include <vector>

namespace relay {

struct port_holder {
    int pid = 0;
    std::string program;  // argv[0]'s file name, else the kernel's comm
};

// Every process but this one with the device open, lowest pid first. For
// the slave side of a pseudo-terminal, the process that holds its master
// side is the far end of the line, not a holder, and is left out unless it
// also has the slave open more than once: then it uses the port as well.
std::vector<port_holder> port_holders(const std::string& device_path, const std::string& proc_root = "/proc");

// "relayd (pid 1234)", "a (pid 1) and b (pid 2)"; empty for none.
std::string describe_holders(const std::vector<port_holder>& holders);

// The program name of a process; empty when it cannot be read.
std::string program_of(int pid, const std::string& proc_root = "/proc");

}  // namespace relay
