#pragma once
// Whether relayd serves its web page, and where: --http [ADDR:]PORT or else
// the [http] section's listen, with the section's password_file, cert_file
// and key_file. Pure, so that every combination is tested in memory; the
// files themselves are read by the caller.

#include <cstdint>
#include <map>
#include <string>

namespace relay::relayd {

struct http_choice {
    bool wanted = false;
    std::string address = "127.0.0.1";  // numeric
    std::uint16_t port = 0;
    std::string password_file;  // empty: no login
    std::string cert_file;      // with key_file: HTTPS
    std::string key_file;
    std::string error;  // one line; relayd exits 2
};

// command_line: --http, empty when not given; it wins over the file's
// listen. config_file: empty when the boards come from the command line.
http_choice choose_http(const std::string& command_line, const std::map<std::string, std::string>& section,
                        const std::string& config_file);

// 127.0.0.0/8 and ::1: only this machine can reach it.
bool is_loopback(const std::string& address);

}  // namespace relay::relayd
