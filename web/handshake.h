#pragma once
// The checks the server makes on a request before it answers: whether a
// WebSocket comes from the page's own origin, the key it answers a
// WebSocket's handshake with, and a session cookie's value. Pure, so each
// hostile variant is tried in memory.

#include <optional>
#include <string>
#include <string_view>

namespace relay::web {

// origin as the browser sends it ("https://panel.example:8443"), host as
// the request's Host header: the same host and port. Scheme http or https
// when relayd speaks plain HTTP (behind a proxy that ends TLS, relayd hears
// http for an https page); only https when relayd itself serves HTTPS.
bool origin_matches_host(std::string_view origin, std::string_view host, bool served_over_tls);

// Sec-WebSocket-Accept for a client's Sec-WebSocket-Key; none when the key
// is not 16 bytes in base64.
std::optional<std::string> websocket_accept(std::string_view key);

// Whether a comma-separated header (Connection, Upgrade) holds the token,
// in any case.
bool header_has_token(std::string_view header, std::string_view token);

}  // namespace relay::web
