#include "service/replies.h"

#include <nlohmann/json.hpp>

namespace relay {
namespace {

using json = nlohmann::json;

json relays_object(const relay_statuses& shown)
{
    json relays = json::object();
    for (int i = 0; i < relay_count; ++i)
        relays[std::to_string(i + 1)] = status_word(shown[static_cast<std::size_t>(i)]);
    return relays;
}

// Only the relays that have a name; nothing at all when none has.
void add_names(json& object, const relay_names& names)
{
    if (!has_names(names))
        return;
    json named = json::object();
    for (int i = 0; i < relay_count; ++i)
        if (!names[static_cast<std::size_t>(i)].empty())
            named[std::to_string(i + 1)] = names[static_cast<std::size_t>(i)];
    object["names"] = std::move(named);
}

std::string line(json object, const std::string& id)
{
    if (!id.empty())
        object["id"] = json::parse(id, nullptr, false);
    // A port's name need not be UTF-8; what is not comes out as U+FFFD.
    return object.dump(-1, ' ', false, json::error_handler_t::replace) + '\n';
}

}  // namespace

std::string ok_reply(const std::string& id, const relay_statuses& shown, const board_facts& facts)
{
    json reply{{"ok", true}, {"relays", relays_object(shown)}, {"port", facts.port}};
    if (facts.address)
        reply["address"] = int(*facts.address);
    add_names(reply, facts.names);
    return line(std::move(reply), id);
}

std::string error_reply(const std::string& id, reply_code code, const std::string& error,
                        const std::optional<relay_statuses>& shown)
{
    json reply{{"ok", false}, {"code", reply_code_word(code)}, {"error", error}};
    if (shown)
        reply["relays"] = relays_object(*shown);
    return line(std::move(reply), id);
}

std::string state_event(const relay_statuses& shown, link_condition link, const relay_names& names)
{
    json event{{"event", "state"}, {"relays", relays_object(shown)}, {"link", link_word(link)}};
    add_names(event, names);
    return line(std::move(event), {});
}

}  // namespace relay
