#pragma once
// relayd's command line, read into plain values. No Qt and no port here,
// so every corner of the syntax can be tested in memory.

#include <cstdint>
#include <string>
#include <vector>

namespace relay::relayd {

struct options {
    std::string port = "1";  // a port number as the panel counts them, or a device
    std::uint8_t address = 1;
    bool simulate = false;
    std::string socket;  // empty: the usual place for the port (see service/socket_paths.h)
    std::string config;  // empty: one board from the options above
    bool system = false;  // serve sockets under /run/relayd, as the system service
    std::string mqtt_url;  // empty: the config file's [mqtt] url, if any
    std::string http;      // [ADDR:]PORT of the web page; empty: the config file's [http] listen, if any
};

struct parse_result {
    enum class action { run, help, version, usage_error };
    action what = action::usage_error;
    options opts;
    std::string error;  // one line, set for usage_error
};

// args are the words after the program name.
parse_result parse_args(const std::vector<std::string>& args);

}  // namespace relay::relayd
