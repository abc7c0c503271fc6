#pragma once
// The checks the server makes on a request before it answers: whether a
// WebSocket comes from the page's own origin, the key it answers a
// WebSocket's handshake with, whether a page without a password is asked
// for under a loopback name, and a session cookie's value. Pure, so each
// hostile variant is tried in memory.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace relay::web {

// origin as the browser sends it ("https://panel.example:8443"), host as
// the request's Host header: the same host and port. Scheme http or https
// when relayd speaks plain HTTP (behind a proxy that ends TLS, relayd hears
// http for an https page); only https when relayd itself serves HTTPS.
bool origin_matches_host(std::string_view origin, std::string_view host, bool served_over_tls);

// Whether host, as the request's Host header, names this machine's
// loopback with the port the page is served on: localhost, any 127.x.x.x,
// [::1] or listen_address itself (numeric), with port, or with no port
// when port is the scheme's default (80, or 443 over TLS). A name that
// merely resolves to this machine (a DNS rebound to 127.0.0.1) is not one,
// so that without a password another site's page cannot speak to relayd.
bool host_is_loopback_name(std::string_view host, std::string_view listen_address, std::uint16_t port,
                           bool served_over_tls);

// Sec-WebSocket-Accept for a client's Sec-WebSocket-Key; none when the key
// is not 16 bytes in base64.
std::optional<std::string> websocket_accept(std::string_view key);

// Whether a comma-separated header (Connection, Upgrade) holds the token,
// in any case.
bool header_has_token(std::string_view header, std::string_view token);

}  // namespace relay::web
