// The checks on a request before the server answers it: a WebSocket's
// origin against the page's host, a password-less page's Host against the
// loopback names, the handshake's key, and the tokens of a comma-separated
// header. Hostile spellings row by row.

#include "web/handshake.h"

#include <gtest/gtest.h>

namespace relay::web {
namespace {

struct origin_row {
    const char* name;
    const char* origin;
    const char* host;
    bool tls;  // relayd itself serves HTTPS
    bool same;
};

class origin_rows : public ::testing::TestWithParam<origin_row> {};

TEST_P(origin_rows, row)
{
    const auto& row = GetParam();
    EXPECT_EQ(origin_matches_host(row.origin, row.host, row.tls), row.same);
}

const origin_row origins[] = {
    {"same_http", "http://127.0.0.1:8080", "127.0.0.1:8080", false, true},
    {"same_https_behind_proxy", "https://panel.example", "panel.example", false, true},
    {"case_differs", "HTTP://Panel.Example:8080", "panel.example:8080", false, true},
    {"other_port", "http://127.0.0.1:8081", "127.0.0.1:8080", false, false},
    {"other_host", "http://evil.example", "panel.example", false, false},
    {"host_as_suffix", "http://evil.panel.example", "panel.example", false, false},
    {"host_as_prefix", "http://panel.example.evil", "panel.example", false, false},
    {"path_appended", "http://panel.example/x", "panel.example", false, false},
    {"no_origin", "", "panel.example", false, false},
    {"null_origin", "null", "panel.example", false, false},
    {"no_host", "http://panel.example", "", false, false},
    {"other_scheme", "file://panel.example", "panel.example", false, false},
    {"scheme_alone", "http://", "", false, false},
    {"ipv6", "http://[::1]:8080", "[::1]:8080", false, true},
    {"same_https_served_over_tls", "https://127.0.0.1:8443", "127.0.0.1:8443", true, true},
    {"same_host_over_http_when_served_over_tls", "http://127.0.0.1:8443", "127.0.0.1:8443", true, false},
    {"other_port_served_over_tls", "https://127.0.0.1:8444", "127.0.0.1:8443", true, false},
};

INSTANTIATE_TEST_SUITE_P(rows, origin_rows, ::testing::ValuesIn(origins),
                         [](const auto& info) { return std::string(info.param.name); });

struct host_row {
    const char* name;
    const char* host;
    const char* listen;
    std::uint16_t port;
    bool tls;
    bool loopback;
};

class host_rows : public ::testing::TestWithParam<host_row> {};

TEST_P(host_rows, row)
{
    const auto& row = GetParam();
    EXPECT_EQ(host_is_loopback_name(row.host, row.listen, row.port, row.tls), row.loopback);
}

const host_row hosts[] = {
    {"ipv4_with_port", "127.0.0.1:8080", "127.0.0.1", 8080, false, true},
    {"other_127_address", "127.0.0.2:8080", "127.0.0.1", 8080, false, true},
    {"localhost", "localhost:8080", "127.0.0.1", 8080, false, true},
    {"localhost_in_capitals", "LocalHost:8080", "127.0.0.1", 8080, false, true},
    {"ipv6_loopback", "[::1]:8080", "127.0.0.1", 8080, false, true},
    {"ipv6_loopback_spelt_long", "[0:0:0:0:0:0:0:1]:8080", "::1", 8080, false, true},
    {"listen_address_itself", "[::ffff:7f00:1]:8080", "::ffff:127.0.0.1", 8080, false, true},
    {"surrounding_space", " localhost:8080 ", "127.0.0.1", 8080, false, true},
    {"no_port_on_80", "localhost", "127.0.0.1", 80, false, true},
    {"no_port_on_443_over_tls", "127.0.0.1", "127.0.0.1", 443, true, true},
    {"no_port_on_443_over_http", "127.0.0.1", "127.0.0.1", 443, false, false},
    {"no_port_on_another_port", "localhost", "127.0.0.1", 8080, false, false},
    {"rebound_name", "attacker.example:8080", "127.0.0.1", 8080, false, false},
    {"rebound_name_on_80", "attacker.example", "127.0.0.1", 80, false, false},
    {"localhost_as_prefix", "localhost.attacker.example:8080", "127.0.0.1", 8080, false, false},
    {"localhost_as_suffix", "evil-localhost:8080", "127.0.0.1", 8080, false, false},
    {"localhost_with_trailing_dot", "localhost.:8080", "127.0.0.1", 8080, false, false},
    {"name_under_localhost", "a.localhost:8080", "127.0.0.1", 8080, false, false},
    {"other_port", "127.0.0.1:8081", "127.0.0.1", 8080, false, false},
    {"port_with_leading_zeros_past_5_digits", "127.0.0.1:008080", "127.0.0.1", 8080, false, false},
    {"port_not_a_number", "127.0.0.1:80x", "127.0.0.1", 80, false, false},
    {"port_empty", "127.0.0.1:", "127.0.0.1", 80, false, false},
    {"port_past_65535", "127.0.0.1:73616", "127.0.0.1", 8080, false, false},
    {"lan_address", "192.168.1.5:8080", "127.0.0.1", 8080, false, false},
    {"any_address", "0.0.0.0:8080", "127.0.0.1", 8080, false, false},
    {"ipv6_not_loopback", "[fe80::1]:8080", "::1", 8080, false, false},
    {"ipv6_without_brackets", "::1", "::1", 80, false, false},
    {"ipv4_in_brackets", "[127.0.0.1]:8080", "127.0.0.1", 8080, false, false},
    {"bracket_never_closed", "[::1:8080", "::1", 8080, false, false},
    {"text_after_brackets", "[::1]x:8080", "::1", 8080, false, false},
    {"short_ipv4", "127.1:8080", "127.0.0.1", 8080, false, false},
    {"user_part", "attacker@127.0.0.1:8080", "127.0.0.1", 8080, false, false},
    {"empty", "", "127.0.0.1", 80, false, false},
};

INSTANTIATE_TEST_SUITE_P(rows, host_rows, ::testing::ValuesIn(hosts),
                         [](const auto& info) { return std::string(info.param.name); });

struct key_row {
    const char* name;
    const char* key;
    const char* accept;  // nullptr: refused
};

class key_rows : public ::testing::TestWithParam<key_row> {};

TEST_P(key_rows, row)
{
    const auto& row = GetParam();
    const auto accept = websocket_accept(row.key);
    if (!row.accept) {
        EXPECT_FALSE(accept.has_value()) << *accept;
        return;
    }
    ASSERT_TRUE(accept.has_value());
    EXPECT_EQ(*accept, row.accept);
}

const key_row keys[] = {
    // The example in RFC 6455, section 1.3.
    {"rfc_example", "dGhlIHNhbXBsZSBub25jZQ==", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
    {"surrounding_space", " dGhlIHNhbXBsZSBub25jZQ== ", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
    {"empty", "", nullptr},
    {"too_short", "dGhlIHNhbXBsZQ==", nullptr},
    {"too_long", "dGhlIHNhbXBsZSBub25jZQ==AAAA", nullptr},
    {"not_base64", "dGhlIHNhbXBsZSBub25j!Q==", nullptr},
    {"padding_inside", "dGhlIHNhbX=sZSBub25jZQ==", nullptr},
    {"no_padding", "dGhlIHNhbXBsZSBub25jZQAA", nullptr},
};

INSTANTIATE_TEST_SUITE_P(rows, key_rows, ::testing::ValuesIn(keys),
                         [](const auto& info) { return std::string(info.param.name); });

struct token_row {
    const char* name;
    const char* header;
    const char* token;
    bool found;
};

class token_rows : public ::testing::TestWithParam<token_row> {};

TEST_P(token_rows, row)
{
    const auto& row = GetParam();
    EXPECT_EQ(header_has_token(row.header, row.token), row.found);
}

const token_row tokens[] = {
    {"alone", "Upgrade", "upgrade", true},
    {"among_others", "keep-alive, Upgrade", "upgrade", true},
    {"spaces_and_tabs", "keep-alive ,\tupgrade\t", "upgrade", true},
    {"part_of_a_word", "upgraded", "upgrade", false},
    {"empty", "", "upgrade", false},
    {"only_commas", ",,,", "upgrade", false},
};

INSTANTIATE_TEST_SUITE_P(rows, token_rows, ::testing::ValuesIn(tokens),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace relay::web
