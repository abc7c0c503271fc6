#include "attach/owner_lines.h"

#include "text/shown_text.h"

#include <nlohmann/json.hpp>

namespace relay {
namespace {

using json = nlohmann::json;

constexpr link_condition link_conditions[] = {link_condition::answering, link_condition::silent, link_condition::lost};

// What an owner says is shown as a reason: one short line, escapes shown.
constexpr std::size_t max_shown_bytes = 512;

const std::string* string_at(const json& object, const char* key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
}

std::optional<owner_state_event> state_event_of(const json& event)
{
    owner_state_event state;
    if (const auto relays = event.find("relays"); relays != event.end()) {
        if (!relays->is_object())
            return std::nullopt;
        for (int i = 0; i < relay_count; ++i) {
            const auto* word = string_at(*relays, std::to_string(i + 1).c_str());
            auto& relay = state.relays[static_cast<std::size_t>(i)];
            relay = !word ? relay_state::unknown
                    : *word == status_word(status_on)  ? relay_state::on
                    : *word == status_word(status_off) ? relay_state::off
                                                       : relay_state::unknown;
        }
    }
    // A condition this build does not know is not one it may show as answering.
    if (const auto* word = string_at(event, "link"))
        for (const auto condition : link_conditions)
            if (*word == link_word(condition))
                state.link = condition;
    return state;
}

std::optional<board_facts> facts_of(const json& reply)
{
    const auto* port = string_at(reply, "port");
    if (!port)
        return std::nullopt;
    board_facts facts{shown_text(*port, max_shown_bytes), std::nullopt};
    if (const auto address = reply.find("address");
        address != reply.end() && address->is_number_integer() && *address >= 0 && *address <= 255)
        facts.address = static_cast<std::uint8_t>(address->get<int>());
    return facts;
}

owner_reply reply_of(const json& reply, bool ok)
{
    owner_reply r;
    r.ok = ok;
    if (const auto id = reply.find("id"); id != reply.end())
        r.id = id->dump();
    if (ok) {
        r.facts = facts_of(reply);
        return r;
    }
    if (const auto* word = string_at(reply, "code"))
        r.code = parse_reply_code_word(*word).value_or(reply_code::port);
    const auto* error = string_at(reply, "error");
    r.error = error && !error->empty() ? shown_text(*error, max_shown_bytes)
                                       : std::string("The board's owner refused without saying why.");
    return r;
}

}  // namespace

owner_line read_owner_line(std::string_view line)
{
    if (line.size() > max_owner_line_bytes)
        return {};
    const auto document = json::parse(line.begin(), line.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return {};
    if (const auto* event = string_at(document, "event")) {
        if (*event != "state")
            return {};
        if (auto state = state_event_of(document))
            return *state;
        return {};
    }
    if (const auto ok = document.find("ok"); ok != document.end() && ok->is_boolean())
        return reply_of(document, ok->get<bool>());
    return {};
}

std::string request_line(command_kind kind, int relay, const std::string& id_json)
{
    json request{{"cmd", command_word(kind)}};
    if (takes_relay(kind))
        request["relay"] = relay;
    if (!id_json.empty())
        request["id"] = json::parse(id_json, nullptr, false);
    return request.dump() + '\n';
}

}  // namespace relay
