#include "mqtt/discovery.h"

#include <nlohmann/json.hpp>

namespace relay::mqtt {
namespace {

using json = nlohmann::json;

// Shared by every entity of the board, so they make one device. A board
// reports no maker, model or firmware of its own: the model is what it
// does and the software is relayd, which stands for it.
json device_of(const discovered_board& board)
{
    return json{
        {"identifiers", json::array({"relayd_" + board.node})},
        {"name", "Relay board " + board.board},
        {"manufacturer", "Generic"},
        {"model", "Four-channel serial relay board"},
        {"sw_version", RELAY_PANEL_VERSION},
    };
}

// Home Assistant logs it when the entity is added or changed.
json origin()
{
    return json{
        {"name", "relayd"},
        {"sw_version", RELAY_PANEL_VERSION},
        {"support_url", RELAY_PANEL_SUPPORT_URL},
    };
}

discovery_message message(const discovered_board& board, const char* component, const std::string& object,
                          json config)
{
    // The entity id Home Assistant gives it: object_id until 2025.10,
    // default_entity_id from then on (which also silences the warning about
    // object_id); an older version drops the key it does not know.
    const auto id = board.node + "_" + object;
    config["unique_id"] = id;
    config["object_id"] = id;
    config["default_entity_id"] = std::string(component) + "." + id;
    config["device"] = device_of(board);
    config["origin"] = origin();
    // Compact, keys in order; a topic prefix that is not UTF-8 (the
    // configuration does not insist) is written with U+FFFD in its place.
    return {board.discovery_prefix + "/" + component + "/" + board.node + "/" + object + "/config",
            config.dump(-1, ' ', false, json::error_handler_t::replace)};
}

std::string relay_title(const discovered_board& board, int relay)
{
    const auto& name = board.names[static_cast<std::size_t>(relay - 1)];
    return name.empty() ? "Relay " + std::to_string(relay) : name;
}

}  // namespace

const char* device_class_word(relay_kind kind) { return kind == relay_kind::outlet ? "outlet" : "switch"; }

bool relay_kind_from_word(const std::string& word, relay_kind& kind)
{
    if (word == "switch")
        kind = relay_kind::generic;
    else if (word == "outlet")
        kind = relay_kind::outlet;
    else
        return false;
    return true;
}

discovery_message relay_discovery(const discovered_board& board, const board_topics& topics, int relay)
{
    const auto n = std::to_string(relay);
    return message(board, "switch", "relay" + n,
                   json{
                       {"name", relay_title(board, relay)},
                       {"device_class", device_class_word(board.kinds[static_cast<std::size_t>(relay - 1)])},
                       {"availability_topic", topics.availability()},
                       {"payload_available", payload_online},
                       {"payload_not_available", payload_offline},
                       {"state_topic", topics.relay_state(relay)},
                       {"command_topic", topics.relay_set(relay)},
                       {"payload_on", payload_on},
                       {"payload_off", payload_off},
                       {"state_on", payload_on},
                       {"state_off", payload_off},
                       {"retain", false},
                   });
}

std::optional<discovery_message> pulse_button_discovery(const discovered_board& board, const board_topics& topics,
                                                        int relay)
{
    const auto& pulse = board.pulses[static_cast<std::size_t>(relay - 1)];
    if (!pulse)
        return std::nullopt;
    return message(board, "button", "relay" + std::to_string(relay) + "_pulse",
                   json{
                       {"name", relay_title(board, relay) + " pulse"},
                       {"availability_topic", topics.availability()},
                       {"payload_available", payload_online},
                       {"payload_not_available", payload_offline},
                       {"command_topic", topics.relay_pulse(relay)},
                       {"payload_press", std::to_string(pulse->count())},
                       {"retain", false},
                   });
}

discovery_message link_discovery(const discovered_board& board, const board_topics& topics)
{
    return message(board, "binary_sensor", "link",
                   json{
                       {"name", "Link"},
                       {"device_class", "connectivity"},
                       {"entity_category", "diagnostic"},
                       {"state_topic", topics.availability()},
                       {"payload_on", payload_online},
                       {"payload_off", payload_offline},
                   });
}

std::vector<discovery_message> board_discovery(const discovered_board& board, const board_topics& topics)
{
    std::vector<discovery_message> all;
    for (int relay = 1; relay <= relay_count; ++relay)
        all.push_back(relay_discovery(board, topics, relay));
    for (int relay = 1; relay <= relay_count; ++relay)
        if (auto button = pulse_button_discovery(board, topics, relay))
            all.push_back(std::move(*button));
    all.push_back(link_discovery(board, topics));
    return all;
}

}  // namespace relay::mqtt
