#pragma once
// What the owner of a board keeps to, whoever asks: relays that must never be
// on together, and what to do when the board answers again after a silence
// (it may have lost power and come up in another state).

#include "protocol/relay_commands.h"

#include <optional>
#include <string>
#include <vector>

namespace relay {

// A relay with a pulse or cycle under way follows its step instead: a step
// due by then has its final state put back, never its first.
enum class restore_policy {
    leave,  // take the board as it comes back
    last,   // put back the states last confirmed before the silence
    off,    // switch every relay off
};

// "leave", "last" or "off", and back.
const char* restore_word(restore_policy policy);
std::optional<restore_policy> parse_restore_word(const std::string& word);

struct switch_rules {
    // Relays 1 to 4; each relay in at most one group, each group of two or more.
    std::vector<std::vector<int>> interlock_groups;
    restore_policy restore = restore_policy::leave;

    bool operator==(const switch_rules& other) const
    {
        return interlock_groups == other.interlock_groups && restore == other.restore;
    }
};

// "1 3": a group's relays as the configuration writes them.
std::string group_words(const std::vector<int>& group);

// The group relay (1 to 4) belongs to, if any.
const std::vector<int>* interlock_group_of(const switch_rules& rules, int relay);

// Why a command may not be queued at all under the interlock, in plain words:
// it would itself switch on two relays of one group (all-on is the usual
// case). Nothing when it may go, perhaps after the owner switched others off.
std::optional<std::string> interlock_refusal(const switch_rules& rules, const command_tuple& command);

}  // namespace relay
