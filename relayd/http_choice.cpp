#include "relayd/http_choice.h"

#include "text/shown_text.h"
#include "text/whole_number.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace relay::relayd {
namespace {

bool is_numeric_address(const std::string& address)
{
    in_addr v4{};
    in6_addr v6{};
    return ::inet_pton(AF_INET, address.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, address.c_str(), &v6) == 1;
}

}  // namespace

bool is_loopback(const std::string& address)
{
    in_addr v4{};
    if (::inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

http_choice choose_http(const std::string& command_line, const std::map<std::string, std::string>& section,
                        const std::string& config_file)
{
    http_choice choice;
    const std::string where = config_file.empty() ? "" : " in [http] of " + shown_text(config_file);
    for (const auto& [key, value] : section) {
        if (key != "listen" && key != "password_file" && key != "cert_file" && key != "key_file") {
            choice.error = "unknown key \"" + shown_text(key) + "\"" + where +
                           "; known keys: listen, password_file, cert_file, key_file";
            return choice;
        }
    }
    const auto get = [&](const char* key) {
        const auto it = section.find(key);
        return it == section.end() ? std::string() : it->second;
    };
    const auto listen = !command_line.empty() ? command_line : get("listen");
    if (listen.empty()) {
        if (!section.empty())
            choice.error = shown_text(config_file) +
                           ": the [http] section has no listen: add listen = [ADDR:]PORT or give --http [ADDR:]PORT";
        return choice;
    }
    const auto bad_listen = [&] {
        choice.error = "the web page's address \"" + shown_text(listen) + "\"" +
                       (command_line.empty() ? where : std::string()) +
                       " must be PORT, IPV4:PORT or [IPV6]:PORT, such as 8080 or 0.0.0.0:8080";
        return choice;
    };
    std::string port_text = listen;
    if (listen.front() == '[') {
        const auto close = listen.find("]:");
        if (close == std::string::npos)
            return bad_listen();
        choice.address = listen.substr(1, close - 1);
        port_text = listen.substr(close + 2);
    } else if (const auto colon = listen.find(':'); colon != std::string::npos) {
        choice.address = listen.substr(0, colon);
        port_text = listen.substr(colon + 1);
    }
    const auto port = whole_number(port_text, 65535);
    if (!port || !is_numeric_address(choice.address) ||
        (listen.front() != '[' && choice.address.find(':') != std::string::npos))
        return bad_listen();
    choice.port = static_cast<std::uint16_t>(*port);
    choice.password_file = get("password_file");
    choice.cert_file = get("cert_file");
    choice.key_file = get("key_file");
    if (choice.cert_file.empty() != choice.key_file.empty()) {
        choice.error = std::string("HTTPS needs both cert_file and key_file") + where + "; only " +
                       (choice.cert_file.empty() ? "key_file" : "cert_file") + " is given";
        return choice;
    }
    // Anyone on the network could switch the boards.
    if (!is_loopback(choice.address) && choice.password_file.empty()) {
        choice.error = "the web page would listen on " + choice.address +
                       ", beyond this machine, without a login: add password_file to [http] (a file of mode 600 "
                       "whose first line is the password), or listen on 127.0.0.1";
        return choice;
    }
    choice.wanted = true;
    return choice;
}

}  // namespace relay::relayd
