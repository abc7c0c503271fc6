#include "protocol/command_kind.h"

namespace relay {
namespace {

struct kind_word {
    command_kind kind;
    const char* word;
    bool takes_relay;
};

constexpr kind_word kind_words[] = {
    {command_kind::status, "status", false}, {command_kind::on, "on", true},
    {command_kind::off, "off", true},        {command_kind::toggle, "toggle", true},
    {command_kind::all_on, "all-on", false}, {command_kind::all_off, "all-off", false},
    {command_kind::watch, "watch", false},
};

const kind_word& row_of(command_kind kind)
{
    for (const auto& row : kind_words)
        if (row.kind == kind)
            return row;
    return kind_words[0];
}

}  // namespace

const char* command_word(command_kind kind) { return row_of(kind).word; }

std::optional<command_kind> parse_command_word(std::string_view word)
{
    for (const auto& row : kind_words)
        if (word == row.word)
            return row.kind;
    return std::nullopt;
}

const char* command_words_listed() { return "status, on, off, toggle, all-on, all-off or watch"; }

bool takes_relay(command_kind kind) { return row_of(kind).takes_relay; }

std::optional<command_tuple> fixed_command(command_kind kind, int relay)
{
    switch (kind) {
    case command_kind::on:
        return single_relay(relay, action_on);
    case command_kind::off:
        return single_relay(relay, action_off);
    case command_kind::all_on:
        return all_relays(action_on);
    case command_kind::all_off:
        return all_relays(action_off);
    case command_kind::status:
    case command_kind::toggle:
    case command_kind::watch:
        break;
    }
    return std::nullopt;
}

}  // namespace relay
