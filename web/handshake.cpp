#include "web/handshake.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace relay::web {
namespace {

bool same_words(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool is_base64(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=';
    });
}

// The port of a Host header, 1 to 5 digits; none for anything else.
std::optional<unsigned> port_number(std::string_view text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    unsigned n = 0;
    for (const char c : text)
        n = n * 10 + static_cast<unsigned>(c - '0');
    return n;
}

bool is_ipv4_loopback_or(const std::string& name, std::string_view listen_address)
{
    in_addr address{};
    if (::inet_pton(AF_INET, name.c_str(), &address) != 1)
        return false;
    if ((ntohl(address.s_addr) >> 24) == 127)
        return true;
    in_addr listening{};
    return ::inet_pton(AF_INET, std::string(listen_address).c_str(), &listening) == 1 &&
           listening.s_addr == address.s_addr;
}

bool is_ipv6_loopback_or(const std::string& name, std::string_view listen_address)
{
    in6_addr address{};
    if (::inet_pton(AF_INET6, name.c_str(), &address) != 1)
        return false;
    if (IN6_IS_ADDR_LOOPBACK(&address))
        return true;
    in6_addr listening{};
    return ::inet_pton(AF_INET6, std::string(listen_address).c_str(), &listening) == 1 &&
           std::memcmp(&listening, &address, sizeof address) == 0;
}

}  // namespace

bool host_is_loopback_name(std::string_view host, std::string_view listen_address, std::uint16_t port,
                           bool served_over_tls)
{
    host = trimmed(host);
    std::string_view name;
    std::string_view rest;
    bool bracketed = false;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        bracketed = true;
    } else {
        const auto colon = host.find(':');
        name = host.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : host.substr(colon);
    }
    if (rest.empty()) {
        if (port != (served_over_tls ? 443 : 80))
            return false;
    } else if (rest.front() != ':' || port_number(rest.substr(1)) != port) {
        return false;
    }
    const std::string plain(name);
    if (bracketed)
        return is_ipv6_loopback_or(plain, listen_address);
    return same_words(name, "localhost") || is_ipv4_loopback_or(plain, listen_address);
}

bool origin_matches_host(std::string_view origin, std::string_view host, bool served_over_tls)
{
    host = trimmed(host);
    origin = trimmed(origin);
    if (host.empty())
        return false;
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (served_over_tls && scheme == "http://")
            continue;
        if (origin.size() > scheme.size() && same_words(origin.substr(0, scheme.size()), scheme))
            return same_words(origin.substr(scheme.size()), host);
    }
    return false;
}

std::optional<std::string> websocket_accept(std::string_view key)
{
    key = trimmed(key);
    // 16 bytes are 24 characters of base64, the last two of them '='.
    if (key.size() != 24 || !is_base64(key) || key.substr(22) != "==" ||
        key.substr(0, 22).find('=') != std::string_view::npos)
        return std::nullopt;
    static constexpr std::string_view guid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    std::string joined(key);
    joined += guid;
    std::array<unsigned char, 20> digest{};
    if (gnutls_hash_fast(GNUTLS_DIG_SHA1, joined.data(), joined.size(), digest.data()) != 0)
        return std::nullopt;
    const gnutls_datum_t raw{digest.data(), static_cast<unsigned>(digest.size())};
    gnutls_datum_t encoded{};
    if (gnutls_base64_encode2(&raw, &encoded) != 0)
        return std::nullopt;
    std::string accept(reinterpret_cast<const char*>(encoded.data), encoded.size);
    gnutls_free(encoded.data);
    return accept;
}

bool header_has_token(std::string_view header, std::string_view token)
{
    while (!header.empty()) {
        const auto comma = header.find(',');
        if (same_words(trimmed(header.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        header.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace relay::web
