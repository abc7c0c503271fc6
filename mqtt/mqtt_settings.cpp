#include "mqtt/mqtt_settings.h"

#include "text/shown_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include <sys/stat.h>

namespace relay::mqtt {
namespace {

settings_result refuse(std::string why) { return {std::nullopt, std::move(why)}; }

bool all_digits(const std::string& s)
{
    if (s.empty())
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Host names and IPv4 literals; IPv6 literals arrive without their brackets.
bool is_host(const std::string& host, bool bracketed)
{
    if (host.empty() || host.size() > 253)
        return false;
    for (const char c : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_';
        if (!plain && !(bracketed && (c == ':' || c == '%')))
            return false;
    }
    return true;
}

std::string parse_url(const std::string& url, mqtt_settings& out)
{
    const std::string plain = "mqtt://";
    const std::string secure = "mqtts://";
    std::string rest;
    if (url.compare(0, plain.size(), plain) == 0) {
        rest = url.substr(plain.size());
        out.tls = false;
        out.port = default_mqtt_port;
    } else if (url.compare(0, secure.size(), secure) == 0) {
        rest = url.substr(secure.size());
        out.tls = true;
        out.port = default_mqtts_port;
    } else {
        return "the broker URL \"" + shown_text(url) + "\" must start with mqtt:// or mqtts://";
    }
    if (rest.find('@') != std::string::npos)
        return "the broker URL must not carry a user or password: put user in the [mqtt] section and the "
               "password in the file named by password_file";
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('/') != std::string::npos || rest.find('?') != std::string::npos)
        return "the broker URL \"" + shown_text(url) + "\" has a path; only mqtt://host[:port] is understood";

    std::string host;
    std::string port_text;
    bool bracketed = false;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos)
            return "the broker URL \"" + shown_text(url) + "\" opens an IPv6 address with [ but never closes it";
        host = rest.substr(1, close - 1);
        bracketed = true;
        const auto after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return "the broker URL \"" + shown_text(url) + "\" has something other than :port after the address";
            port_text = after.substr(1);
            if (port_text.empty())
                return "the broker URL \"" + shown_text(url) + "\" ends in ':' without a port";
        }
    } else {
        const auto colon = rest.find(':');
        host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port_text = rest.substr(colon + 1);
            if (port_text.empty())
                return "the broker URL \"" + shown_text(url) + "\" ends in ':' without a port";
        }
    }
    if (host.empty())
        return "the broker URL \"" + shown_text(url) + "\" names no host";
    if (!is_host(host, bracketed))
        return "the broker URL \"" + shown_text(url) + "\" has a host name with characters a host name cannot have";
    out.host = host;
    if (!port_text.empty()) {
        if (!all_digits(port_text) || port_text.size() > 5 || std::stoul(port_text) < 1 ||
            std::stoul(port_text) > 65535)
            return "the broker port \"" + shown_text(port_text) + "\" is not a port number (1 to 65535)";
        out.port = static_cast<std::uint16_t>(std::stoul(port_text));
    }
    return {};
}

}  // namespace

bool is_publishable_prefix(const std::string& prefix)
{
    if (prefix.empty() || prefix.front() == '$' || prefix.front() == '/' || prefix.back() == '/')
        return false;
    if (prefix.find("//") != std::string::npos)
        return false;
    for (const char c : prefix)
        if (c == '+' || c == '#' || c == '\0' || static_cast<unsigned char>(c) < 0x20)
            return false;
    return prefix.size() <= 200;
}

settings_result parse_mqtt_settings(const std::string& url, const std::map<std::string, std::string>& keys,
                                    const std::string& machine_name)
{
    mqtt_settings s;
    if (const auto why = parse_url(url, s); !why.empty())
        return refuse(why);

    static const std::set<std::string> known{"user",      "password_file", "ca_file",
                                             "client_id", "topic_prefix",  "discovery_prefix"};
    for (const auto& [key, value] : keys) {
        if (known.count(key) == 0)
            return refuse("unknown key \"" + shown_text(key) +
                          "\" in [mqtt]; known keys: user, password_file, ca_file, client_id, topic_prefix, "
                          "discovery_prefix");
        if (value.empty())
            return refuse("the key " + key + " in [mqtt] is empty; leave it out to get the default");
    }
    const auto get = [&](const char* key) {
        const auto it = keys.find(key);
        return it == keys.end() ? std::string{} : it->second;
    };

    s.user = get("user");
    s.password_file = get("password_file");
    if (!s.password_file.empty() && s.user.empty())
        return refuse("password_file is set but user is not; the broker takes a password only with a user");
    s.ca_file = get("ca_file");
    if (!s.ca_file.empty() && !s.tls)
        return refuse("ca_file is set but the broker URL is mqtt://; use mqtts:// for TLS");

    s.machine_name = machine_name;
    s.client_id = get("client_id");
    if (s.client_id.empty())
        s.client_id = "relayd-" + (machine_name.empty() ? std::string("host") : machine_name);
    if (s.client_id.size() > 23 * 10)
        return refuse("client_id is longer than 230 characters");
    for (const char c : s.client_id)
        if (static_cast<unsigned char>(c) < 0x21 || c == '+' || c == '#' || c == '/')
            return refuse("client_id \"" + shown_text(s.client_id) +
                          "\" holds a space, a control character, '/', '+' or '#'");

    if (const auto prefix = get("topic_prefix"); !prefix.empty()) {
        if (!is_publishable_prefix(prefix))
            return refuse("topic_prefix \"" + shown_text(prefix) +
                          "\" cannot be a topic prefix: no '+', '#', leading '$', leading or trailing '/' or "
                          "empty level");
        s.topic_prefix = prefix;
    }
    if (const auto prefix = get("discovery_prefix"); !prefix.empty()) {
        if (prefix == "off") {
            s.discovery_prefix.clear();
        } else if (!is_publishable_prefix(prefix)) {
            return refuse("discovery_prefix \"" + shown_text(prefix) +
                          "\" cannot be a topic prefix (or write off to turn discovery off)");
        } else {
            s.discovery_prefix = prefix;
        }
    }
    return {s, {}};
}

password_result read_password_file(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {std::nullopt, "cannot read the password file " + shown_text(path) + ": " + std::strerror(errno)};
    if (!S_ISREG(info.st_mode))
        return {std::nullopt, "the password file " + shown_text(path) + " is not a regular file"};
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return {std::nullopt, "the password file " + shown_text(path) + " has mode " + mode +
                                  ": it is open to other users, so it is refused. Run chmod 600 " + shown_text(path)};
    }
    std::ifstream in(path);
    if (!in)
        return {std::nullopt, "cannot read the password file " + shown_text(path) + ": " + std::strerror(errno)};
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        return {std::nullopt, "the password file " + shown_text(path) + " is empty; its first line is the password"};
    return {line, {}};
}

}  // namespace relay::mqtt
