#include "core/switch_rules.h"

#include <algorithm>

namespace relay {
namespace {

struct restore_row {
    restore_policy policy;
    const char* word;
};

constexpr restore_row restore_rows[] = {
    {restore_policy::leave, "leave"},
    {restore_policy::last, "last"},
    {restore_policy::off, "off"},
};

}  // namespace

std::string group_words(const std::vector<int>& group)
{
    std::string words;
    for (const int relay : group)
        words += (words.empty() ? "" : " ") + std::to_string(relay);
    return words;
}

const char* restore_word(restore_policy policy)
{
    for (const auto& row : restore_rows)
        if (row.policy == policy)
            return row.word;
    return restore_rows[0].word;
}

std::optional<restore_policy> parse_restore_word(const std::string& word)
{
    for (const auto& row : restore_rows)
        if (word == row.word)
            return row.policy;
    return std::nullopt;
}

const std::vector<int>* interlock_group_of(const switch_rules& rules, int relay)
{
    for (const auto& group : rules.interlock_groups)
        if (std::find(group.begin(), group.end(), relay) != group.end())
            return &group;
    return nullptr;
}

std::optional<std::string> interlock_refusal(const switch_rules& rules, const command_tuple& command)
{
    for (const auto& group : rules.interlock_groups) {
        const auto switched_on = std::count_if(group.begin(), group.end(), [&](int relay) {
            return is_relay_index(relay) && command.actions[static_cast<std::size_t>(relay - 1)] == action_on;
        });
        if (switched_on > 1)
            return "Relays " + group_words(group) + " are interlocked: they are never on together.";
    }
    return std::nullopt;
}

}  // namespace relay
