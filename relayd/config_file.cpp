#include "relayd/config_file.h"

#include "serial/whole_number.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace relay::relayd {
namespace {

const char* const board_keys = "port, address, socket, board_id, relay1_class to relay4_class";

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

enum class section { none, mqtt, board, other };

class reader {
public:
    explicit reader(std::string file) : file(std::move(file)) {}

    config_result parse(const std::string& text)
    {
        std::istringstream lines(text);
        std::string raw;
        while (std::getline(lines, raw)) {
            ++line_number;
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
            return fail("a section header must end with ']': '" + line + "'");
        const std::string inside = trim(line.substr(1, line.size() - 2));
        keys_seen.clear();
        if (inside == "mqtt") {
            current = section::mqtt;
            return true;
        }
        if (inside.rfind("board", 0) != 0 || inside.size() < 6 || (inside[5] != ' ' && inside[5] != '\t'))
            return fail("unknown section [" + inside + "]: sections are [mqtt] and [board NAME]");
        const std::string name = trim(inside.substr(5));
        for (const char c : name)
            if (!is_name_char(c))
                return fail("board name '" + name + "' may hold only letters, digits, '-', '_' and '.'");
        if (!board_names.insert(name).second)
            return fail("board '" + name + "' is named twice");
        current = section::board;
        result.config.boards.push_back({});
        result.config.boards.back().name = name;
        board_start_lines.push_back(line_number);
        port_given.push_back(false);
        return true;
    }

    bool key_value(const std::string& line)
    {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            return fail("expected 'key = value', not '" + line + "'");
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        if (key.empty())
            return fail("a value without a key: '" + line + "'");
        if (current == section::none)
            return fail("key '" + key + "' comes before any section");
        if (!keys_seen.insert(key).second)
            return fail("key '" + key + "' is given twice in this section");
        if (current == section::mqtt) {
            result.config.mqtt[key] = value;
            return true;
        }
        auto& board = result.config.boards.back();
        if (value.empty())
            return fail("key '" + key + "' of board '" + board.name + "' has no value");
        if (key == "port") {
            board.port = value;
            port_given.back() = true;
        } else if (key == "address") {
            const auto a = whole_number(value, 255);
            if (!a)
                return fail("key 'address' of board '" + board.name + "' must be a whole number from 0 to 255, not '" +
                            value + "'");
            board.address = static_cast<std::uint8_t>(*a);
        } else if (key == "socket") {
            if (value[0] != '/')
                return fail("key 'socket' of board '" + board.name + "' needs an absolute path, not '" + value + "'");
            board.socket = value;
        } else if (key == "board_id") {
            for (const char c : value)
                if (!is_id_char(c))
                    return fail("key 'board_id' of board '" + board.name +
                                "' may hold only letters, digits, '-' and '_', not '" + value + "'");
            if (value.size() > 64)
                return fail("key 'board_id' of board '" + board.name + "' is longer than 64 characters");
            board.board_id = value;
        } else if (const int relay = relay_class_key(key); relay > 0) {
            if (value != "switch" && value != "outlet")
                return fail("key '" + key + "' of board '" + board.name + "' must be switch or outlet, not '" + value +
                            "'");
            board.outlets[static_cast<std::size_t>(relay - 1)] = value == "outlet";
        } else {
            return fail("unknown key '" + key + "' in [board " + board.name + "]: the keys are " + board_keys);
        }
        return true;
    }

    config_result finish()
    {
        // Two owners of one port would fight over it; two boards on one
        // socket would leave one of them unreachable.
        auto& boards = result.config.boards;
        for (std::size_t i = 0; i < boards.size(); ++i) {
            if (!port_given[i]) {
                line_number = board_start_lines[i];
                fail("board '" + boards[i].name + "' has no key 'port'");
                return result;
            }
            for (std::size_t j = 0; j < i; ++j) {
                if (boards[j].port == boards[i].port) {
                    line_number = board_start_lines[i];
                    fail("key 'port' of board '" + boards[i].name + "': port '" + boards[i].port +
                         "' is already board '" + boards[j].name + "'s");
                    return result;
                }
                if (!boards[i].board_id.empty() && boards[j].board_id == boards[i].board_id) {
                    line_number = board_start_lines[i];
                    fail("key 'board_id' of board '" + boards[i].name + "': '" + boards[i].board_id +
                         "' is already board '" + boards[j].name + "'s");
                    return result;
                }
                if (!boards[i].socket.empty() && boards[j].socket == boards[i].socket) {
                    line_number = board_start_lines[i];
                    fail("key 'socket' of board '" + boards[i].name + "': socket '" + boards[i].socket +
                         "' is already board '" + boards[j].name + "'s");
                    return result;
                }
            }
        }
        result.ok = true;
        return result;
    }

    std::string file;
    int line_number = 0;
    section current = section::none;
    std::set<std::string> keys_seen;
    std::set<std::string> board_names;
    std::vector<int> board_start_lines;
    std::vector<bool> port_given;
    config_result result;
};

}  // namespace

config_result parse_config(const std::string& text, const std::string& file_name)
{
    return reader(file_name).parse(text);
}

config_result read_config_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        config_result r;
        r.error = path + ": cannot be read: " + std::strerror(errno);
        return r;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), path);
}

}  // namespace relay::relayd
