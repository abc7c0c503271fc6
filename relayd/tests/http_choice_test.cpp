// Whether and where relayd serves its web page: --http, the [http] section,
// both or neither, row by row; beyond loopback only with a login.

#include "relayd/http_choice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace relay::relayd {
namespace {

using keys = std::map<std::string, std::string>;

struct http_row {
    const char* name;
    std::string command_line;
    keys section;
    bool wanted;
    std::string address;
    int port;
    std::string error_part;  // empty: no error
};

class choose_http_rows : public ::testing::TestWithParam<http_row> {};

TEST_P(choose_http_rows, row)
{
    const auto& row = GetParam();
    const auto c = choose_http(row.command_line, row.section, "/etc/relayd.conf");
    EXPECT_EQ(c.wanted, row.wanted);
    if (row.error_part.empty()) {
        EXPECT_EQ(c.error, "");
    } else {
        EXPECT_NE(c.error.find(row.error_part), std::string::npos) << c.error;
        EXPECT_EQ(c.error.find('\n'), std::string::npos) << "one line";
    }
    if (row.wanted) {
        EXPECT_EQ(c.address, row.address);
        EXPECT_EQ(c.port, row.port);
    }
}

const std::string pw = "/etc/relayd/web.password";

const http_row rows[] = {
    {"neither", "", {}, false, "", 0, ""},
    {"port_alone_is_loopback", "8080", {}, true, "127.0.0.1", 8080, ""},
    {"port_zero_takes_any", "0", {}, true, "127.0.0.1", 0, ""},
    {"ipv4_loopback_other_than_1", "127.0.0.2:81", {}, true, "127.0.0.2", 81, ""},
    {"ipv6_loopback", "[::1]:8080", {}, true, "::1", 8080, ""},
    {"file_listen", "", {{"listen", "127.0.0.1:9000"}}, true, "127.0.0.1", 9000, ""},
    {"command_line_wins_over_file", "8081", {{"listen", "127.0.0.1:9000"}}, true, "127.0.0.1", 8081, ""},
    {"any_address_with_password", "", {{"listen", "0.0.0.0:8080"}, {"password_file", pw}}, true, "0.0.0.0", 8080,
     ""},
    {"any_address_without_password", "0.0.0.0:8080", {}, false, "", 0, "without a login"},
    {"lan_address_without_password", "", {{"listen", "192.168.1.5:80"}}, false, "", 0, "without a login"},
    {"ipv6_any_without_password", "[::]:8080", {}, false, "", 0, "without a login"},
    {"mapped_loopback_is_not_loopback", "[::ffff:127.0.0.1]:8080", {}, false, "", 0, "without a login"},
    {"port_too_big", "65536", {}, false, "", 0, "must be PORT"},
    {"port_not_a_number", "http", {}, false, "", 0, "must be PORT"},
    {"host_name_not_numeric", "localhost:8080", {}, false, "", 0, "must be PORT"},
    {"ipv6_without_brackets", "::1:8080", {}, false, "", 0, "must be PORT"},
    {"brackets_without_port", "[::1]", {}, false, "", 0, "must be PORT"},
    {"empty_port", "127.0.0.1:", {}, false, "", 0, "must be PORT"},
    {"keys_without_listen", "", {{"password_file", pw}}, false, "", 0, "has no listen"},
    {"unknown_key", "", {{"listen", "8080"}, {"passwd", "x"}}, false, "", 0, "unknown key \"passwd\""},
    {"cert_without_key", "", {{"listen", "8080"}, {"cert_file", "/c.pem"}}, false, "", 0, "only cert_file"},
    {"key_without_cert", "", {{"listen", "8080"}, {"key_file", "/k.pem"}}, false, "", 0, "only key_file"},
    {"https_on_loopback", "", {{"listen", "8443"}, {"cert_file", "/c.pem"}, {"key_file", "/k.pem"}}, true,
     "127.0.0.1", 8443, ""},
};

INSTANTIATE_TEST_SUITE_P(rows, choose_http_rows, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(http_choice, keeps_the_files_named_in_the_section)
{
    const auto c = choose_http(
        "", {{"listen", "0.0.0.0:1"}, {"password_file", pw}, {"cert_file", "/c.pem"}, {"key_file", "/k.pem"}}, "f");
    ASSERT_TRUE(c.wanted) << c.error;
    EXPECT_EQ(c.password_file, pw);
    EXPECT_EQ(c.cert_file, "/c.pem");
    EXPECT_EQ(c.key_file, "/k.pem");
}

}  // namespace
}  // namespace relay::relayd
