#include "relayd/config_file.h"

#include "core/step_duration.h"
#include "relayd/port_identity.h"
#include "text/shown_text.h"
#include "text/whole_number.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <variant>
#include <vector>

namespace relay::relayd {
namespace {

const char* const board_keys =
    "port, address, socket, board_id, relay1 to relay4, relay1_class to relay4_class, interlock, restore, pulse1 to "
    "pulse4";

std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// A comment runs from '#' or ';' at the start or after a blank to the end
// of the line; "mqtt://host#x" keeps its '#'.
std::string strip_comment(const std::string& line)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == '#' || line[i] == ';') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

bool is_name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

// A byte a terminal or a program would act on. A tab is a blank and a
// return may end a line written on Windows; anything else, NUL included,
// is not text that belongs in the file.
std::optional<std::size_t> control_byte_at(const std::string& line)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '\t' || (c == '\r' && i + 1 == line.size()))
            continue;
        if (c < 0x20 || c == 0x7f)
            return i;
    }
    return std::nullopt;
}

std::string in_quotes(const std::string& text) { return "'" + shown_text(text) + "'"; }

// Home Assistant takes only these in the ids made of a board_id.
bool is_id_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// 1 to 4 for relay1_class to relay4_class, else 0.
int relay_class_key(const std::string& key)
{
    if (key.size() != 12 || key.compare(0, 5, "relay") != 0 || key.compare(6, 6, "_class") != 0)
        return 0;
    const int relay = key[5] - '0';
    return relay >= 1 && relay <= relay_count ? relay : 0;
}

// 1 to 4 for the keys word1 to word4 (relay1, pulse3), else 0.
int numbered_key(const std::string& key, const std::string& word)
{
    if (key.size() != word.size() + 1 || key.compare(0, word.size(), word) != 0)
        return 0;
    const int relay = key.back() - '0';
    return is_relay_index(relay) ? relay : 0;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

// "1 3" or "1 2, 3 4": groups of relays, none in two groups, each of two
// or more. The reason in plain words when the text is not that.
std::string read_interlock(const std::string& value, std::vector<std::vector<int>>& groups)
{
    std::set<int> seen;
    for (const auto& part : split(value, ',')) {
        std::istringstream words(part);
        std::vector<int> group;
        for (std::string word; words >> word;) {
            const auto relay = whole_number(word, relay_count);
            if (!relay || *relay < 1)
                return in_quotes(word) + " is not a relay: relays are 1 to " + std::to_string(relay_count);
            if (!seen.insert(static_cast<int>(*relay)).second)
                return "relay " + word + " is named twice: a relay belongs to one group at most";
            group.push_back(static_cast<int>(*relay));
        }
        if (group.size() < 2)
            return "a group of " + in_quotes(trim(part)) + " interlocks nothing: a group needs two relays or more";
        groups.push_back(std::move(group));
    }
    return {};
}

enum class section { none, mqtt, http, board, other };

class reader {
public:
    reader(const std::string& file, const port_catalog& catalog) : file(shown_text(file)), catalog(catalog) {}

    config_result parse(const std::string& text)
    {
        std::istringstream lines(text);
        std::string raw;
        while (std::getline(lines, raw)) {
            ++line_number;
            if (const auto at = control_byte_at(raw)) {
                fail("control byte " + shown_text(raw.substr(*at, 1)) + " in column " + std::to_string(*at + 1) +
                     ": the file must be plain text");
                return result;
            }
            const std::string line = trim(strip_comment(raw));
            if (line.empty())
                continue;
            const bool good = line[0] == '[' ? start_section(line) : key_value(line);
            if (!good)
                return result;
        }
        if (result.config.boards.empty())
            return fail_at_end("no [board NAME] section: name at least one board");
        return finish();
    }

private:
    bool fail(const std::string& what)
    {
        result.ok = false;
        result.error = file + ":" + std::to_string(line_number) + ": " + what;
        return false;
    }

    config_result fail_at_end(const std::string& what)
    {
        result.ok = false;
        result.error = file + ": " + what;
        return result;
    }

    bool start_section(const std::string& line)
    {
        if (line.back() != ']')
            return fail("a section header must end with ']': " + in_quotes(line));
        const std::string inside = trim(line.substr(1, line.size() - 2));
        keys_seen.clear();
        if (inside == "mqtt") {
            current = section::mqtt;
            return true;
        }
        if (inside == "http") {
            current = section::http;
            return true;
        }
        if (inside.rfind("board", 0) != 0 || inside.size() < 6 || (inside[5] != ' ' && inside[5] != '\t'))
            return fail("unknown section [" + shown_text(inside) + "]: sections are [mqtt], [http] and [board NAME]");
        const std::string name = trim(inside.substr(5));
        for (const char c : name)
            if (!is_name_char(c))
                return fail("board name " + in_quotes(name) + " may hold only letters, digits, '-', '_' and '.'");
        if (!board_names.insert(name).second)
            return fail("board '" + name + "' is named twice");
        current = section::board;
        result.config.boards.push_back({});
        result.config.boards.back().name = name;
        board_start_lines.push_back(line_number);
        port_lines.push_back(0);
        socket_lines.push_back(0);
        return true;
    }

    bool key_value(const std::string& line)
    {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            return fail("expected 'key = value', not " + in_quotes(line));
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        if (key.empty())
            return fail("a value without a key: " + in_quotes(line));
        if (current == section::none)
            return fail("key " + in_quotes(key) + " comes before any section");
        if (!keys_seen.insert(key).second)
            return fail("key " + in_quotes(key) + " is given twice in this section");
        if (current == section::mqtt) {
            result.config.mqtt[key] = value;
            return true;
        }
        if (current == section::http) {
            result.config.http[key] = value;
            return true;
        }
        auto& board = result.config.boards.back();
        if (value.empty())
            return fail("key " + in_quotes(key) + " of board '" + board.name + "' has no value");
        if (key == "port") {
            board.port = value;
            port_lines.back() = line_number;
        } else if (key == "address") {
            const auto a = whole_number(value, 255);
            if (!a)
                return fail("key 'address' of board '" + board.name + "' must be a whole number from 0 to 255, not " +
                            in_quotes(value));
            board.address = static_cast<std::uint8_t>(*a);
        } else if (key == "socket") {
            if (value[0] != '/')
                return fail("key 'socket' of board '" + board.name + "' needs an absolute path, not " +
                            in_quotes(value));
            board.socket = value;
            socket_lines.back() = line_number;
        } else if (key == "board_id") {
            for (const char c : value)
                if (!is_id_char(c))
                    return fail("key 'board_id' of board '" + board.name +
                                "' may hold only letters, digits, '-' and '_', not " + in_quotes(value));
            if (value.size() > 64)
                return fail("key 'board_id' of board '" + board.name + "' is longer than 64 characters");
            board.board_id = value;
        } else if (const int named = numbered_key(key, "relay"); named > 0) {
            if (const auto why = relay_name_error(board.names, named, value); !why.empty())
                return fail("key '" + key + "' of board '" + board.name + "': " + why);
            board.names[static_cast<std::size_t>(named - 1)] = value;
        } else if (const int pulsed = numbered_key(key, "pulse"); pulsed > 0) {
            const auto duration = parse_step_duration(value);
            if (const auto* why = std::get_if<std::string>(&duration))
                return fail("key '" + key + "' of board '" + board.name + "': " + *why);
            board.pulse_buttons[static_cast<std::size_t>(pulsed - 1)] = std::get<std::chrono::milliseconds>(duration);
        } else if (key == "interlock") {
            if (const auto why = read_interlock(value, board.rules.interlock_groups); !why.empty())
                return fail("key 'interlock' of board '" + board.name + "': " + why);
        } else if (key == "restore") {
            const auto policy = parse_restore_word(value);
            if (!policy)
                return fail("key 'restore' of board '" + board.name + "' must be leave, last or off, not " +
                            in_quotes(value));
            board.rules.restore = *policy;
        } else if (const int relay = relay_class_key(key); relay > 0) {
            if (value != "switch" && value != "outlet")
                return fail("key '" + key + "' of board '" + board.name + "' must be switch or outlet, not " +
                            in_quotes(value));
            board.outlets[static_cast<std::size_t>(relay - 1)] = value == "outlet";
        } else {
            return fail("unknown key " + in_quotes(key) + " in [board " + board.name + "]: the keys are " + board_keys);
        }
        return true;
    }

    config_result finish()
    {
        // Two owners of one device would fight over it, however the file
        // spells its path; two boards on one socket would leave one of them
        // unreachable.
        const auto& boards = result.config.boards;
        std::map<std::string, std::size_t> port_paths;
        std::map<std::uint64_t, std::size_t> devices;
        std::map<std::string, std::size_t> sockets;
        std::map<std::string, std::size_t> board_ids;
        for (std::size_t i = 0; i < boards.size(); ++i) {
            if (port_lines[i] == 0) {
                line_number = board_start_lines[i];
                fail("board '" + boards[i].name + "' has no key 'port'");
                return result;
            }
            const auto port = identify_port(boards[i].port, catalog);
            std::optional<std::size_t> earlier;
            if (const auto same_path = port_paths.find(port.path); same_path != port_paths.end())
                earlier = same_path->second;
            else if (const auto same_device = port.device ? devices.find(*port.device) : devices.end();
                     same_device != devices.end())
                earlier = same_device->second;
            if (earlier) {
                const auto j = *earlier;
                line_number = port_lines[i];
                fail("key 'port' of board '" + boards[i].name + "': " + in_quotes(boards[i].port) +
                     " is the same device as board '" + boards[j].name + "''s port " + in_quotes(boards[j].port) +
                     " (line " + std::to_string(port_lines[j]) + ")");
                return result;
            }
            port_paths.emplace(port.path, i);
            if (port.device)
                devices.emplace(*port.device, i);

            if (!boards[i].board_id.empty()) {
                if (const auto other = board_ids.find(boards[i].board_id); other != board_ids.end()) {
                    line_number = board_start_lines[i];
                    fail("key 'board_id' of board '" + boards[i].name + "': " + in_quotes(boards[i].board_id) +
                         " is already board '" + boards[other->second].name + "'s");
                    return result;
                }
                board_ids.emplace(boards[i].board_id, i);
            }

            if (boards[i].socket.empty())
                continue;
            // "/run//x.sock" and "/run/./x.sock" are one socket; the files
            // do not exist yet, so only the spelling can be compared.
            const auto socket = std::filesystem::path(boards[i].socket).lexically_normal().string();
            if (const auto other = sockets.find(socket); other != sockets.end()) {
                const auto j = other->second;
                line_number = socket_lines[i];
                fail("key 'socket' of board '" + boards[i].name + "': " + in_quotes(boards[i].socket) +
                     " is the same path as board '" + boards[j].name + "''s socket " + in_quotes(boards[j].socket) +
                     " (line " + std::to_string(socket_lines[j]) + ")");
                return result;
            }
            sockets.emplace(socket, i);
        }
        result.ok = true;
        return result;
    }

    std::string file;
    const port_catalog& catalog;
    int line_number = 0;
    section current = section::none;
    std::set<std::string> keys_seen;
    std::set<std::string> board_names;
    std::vector<int> board_start_lines;
    std::vector<int> port_lines;  // 0 until the board's "port =" is read
    std::vector<int> socket_lines;
    config_result result;
};

}  // namespace

config_result parse_config(const std::string& text, const std::string& file_name, const port_catalog& catalog)
{
    return reader(file_name, catalog).parse(text);
}

config_result read_config_file(const std::string& path, const port_catalog& catalog)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        config_result r;
        r.error = shown_text(path) + ": cannot be read: " + std::strerror(errno);
        return r;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), path, catalog);
}

}  // namespace relay::relayd
