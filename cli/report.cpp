#include "cli/report.h"

#include <cstdio>

namespace relay::cli {
namespace {

// Device names are usually plain, but a path given on the command line can
// hold anything; the output must stay valid JSON whatever it holds.
std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

}  // namespace

std::string format_plain(const relay_statuses& statuses)
{
    std::string out;
    for (int i = 0; i < relay_count; ++i) {
        if (i > 0)
            out += ' ';
        out += std::to_string(i + 1) + '=' + status_word(statuses[i]);
    }
    return out;
}

std::string format_json(const state_report& report)
{
    std::string out = "{\"port\":" + json_string(report.port) + ",\"address\":" + std::to_string(report.address) +
                      ",\"relays\":{";
    for (int i = 0; i < relay_count; ++i) {
        if (i > 0)
            out += ',';
        out += "\"" + std::to_string(i + 1) + "\":\"" + status_word(report.statuses[i]) + "\"";
    }
    out += "}";
    if (has_names(report.names)) {
        out += ",\"names\":{";
        bool first = true;
        for (int i = 0; i < relay_count; ++i) {
            const auto& name = report.names[static_cast<std::size_t>(i)];
            if (name.empty())
                continue;
            out += (first ? "\"" : ",\"") + std::to_string(i + 1) + "\":" + json_string(name);
            first = false;
        }
        out += "}";
    }
    return out + "}";
}

std::string format_states(const state_report& report, bool json)
{
    return json ? format_json(report) : format_plain(report.statuses);
}

}  // namespace relay::cli
