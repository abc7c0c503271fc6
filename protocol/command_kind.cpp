#include "protocol/command_kind.h"

namespace relay {
namespace {

struct kind_word {
    command_kind kind;
    const char* word;
    bool takes_relay;
    bool takes_duration;
};

constexpr kind_word kind_words[] = {
    {command_kind::status, "status", false, false}, {command_kind::on, "on", true, false},
    {command_kind::off, "off", true, false},        {command_kind::toggle, "toggle", true, false},
    {command_kind::all_on, "all-on", false, false}, {command_kind::all_off, "all-off", false, false},
    {command_kind::watch, "watch", false, false},   {command_kind::pulse, "pulse", true, true},
    {command_kind::cycle, "cycle", true, true},
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

const char* command_words_listed() { return "status, on, off, toggle, all-on, all-off, watch, pulse or cycle"; }

bool takes_relay(command_kind kind) { return row_of(kind).takes_relay; }

bool takes_duration(command_kind kind) { return row_of(kind).takes_duration; }

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
    case command_kind::pulse:
    case command_kind::cycle:
        break;
    }
    return std::nullopt;
}

}  // namespace relay
