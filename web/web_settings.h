#pragma once
// What the web page is served with: where it listens, the password that
// opens it, and the certificate that makes it HTTPS.

#include <cstdint>
#include <string>

namespace relay::web {

struct web_settings {
    std::string address = "127.0.0.1";  // numeric, IPv4 or IPv6
    std::uint16_t port = 0;              // 0: any free port
    std::string password;                // empty: no login
    std::string cert_pem;                // both set: HTTPS
    std::string key_pem;
    bool is_https() const { return !cert_pem.empty() && !key_pem.empty(); }
};

}  // namespace relay::web
