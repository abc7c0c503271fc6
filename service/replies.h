#pragma once
// The lines a control socket sends back: replies to requests and the events
// of a watch. Built with a JSON library, so that every line is valid JSON
// whatever an id or a reason holds.

#include "core/board_core.h"
#include "core/relay_names.h"
#include "protocol/relay_commands.h"
#include "protocol/reply_code.h"

#include <optional>
#include <string>

namespace relay {

struct board_facts {
    std::string port;                     // the device path
    std::optional<std::uint8_t> address;  // none while the owner has no usable one
    relay_names names{};
};

// id: the request's id as JSON text (request.h), empty for none.
// {"ok":true,"relays":{...},"port":...,"address":...[,"names":{"2":"pump"}][,"id":...]}
std::string ok_reply(const std::string& id, const relay_statuses& shown, const board_facts& facts);
// {"ok":false,"code":...,"error":...[,"relays":{...}][,"id":...]}
std::string error_reply(const std::string& id, reply_code code, const std::string& error,
                        const std::optional<relay_statuses>& shown = std::nullopt);
// {"event":"state","relays":{...},"link":"answering"[,"names":{"2":"pump"}]}
std::string state_event(const relay_statuses& shown, link_condition link, const relay_names& names = {});

}  // namespace relay
