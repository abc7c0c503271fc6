#pragma once
// relayctl through the program that owns the port (relayd, or the panel
// while connected): one request line on its control socket, one reply, the
// same output and exit status as when relayctl drives the port itself.

#include "cli/options.h"

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace relay::cli {

struct owner_socket {
    std::string path;
    int pid = 0;  // the owner's, when the kernel tells it
};

// Every owner serving a board here, in the user's folder and the system's:
// one entry per socket, however many names lead to it, by the name that
// says its device.
std::vector<owner_socket> owner_sockets();

class owner_session {
public:
    owner_session(const options& opts, std::string socket_path, std::ostream& out, std::ostream& err);
    ~owner_session();
    owner_session(const owner_session&) = delete;
    owner_session& operator=(const owner_session&) = delete;

    // Returns relayctl's exit code.
    int run();

private:
    int ask();
    int watch();
    bool send_line(const std::string& line);
    enum class read_status { line, timed_out, closed };
    read_status read_line(std::string& line, std::optional<std::chrono::milliseconds> limit);

    const options opts;
    const std::string path;
    std::ostream& out;
    std::ostream& err;
    int fd = -1;
    std::string pending;
};

}  // namespace relay::cli
