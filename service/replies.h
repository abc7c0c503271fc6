#pragma once
// The lines a control socket sends back: replies to requests and the events
// of a watch. Built with Qt's JSON so that every line is valid JSON whatever
// an id or a reason holds.

#include "core/board_core.h"
#include "protocol/relay_commands.h"
#include "protocol/reply_code.h"

#include <QByteArray>
#include <QJsonValue>

#include <optional>
#include <string>

namespace relay {

struct board_facts {
    std::string port;                     // the device path
    std::optional<std::uint8_t> address;  // none while the owner has no usable one
};

// {"ok":true,"relays":{...},"port":...,"address":...[,"id":...]}
QByteArray ok_reply(const QJsonValue& id, const relay_statuses& shown, const board_facts& facts);
// {"ok":false,"code":...,"error":...[,"relays":{...}][,"id":...]}
QByteArray error_reply(const QJsonValue& id, reply_code code, const std::string& error,
                       const std::optional<relay_statuses>& shown = std::nullopt);
// {"event":"state","relays":{...},"link":"answering"}
QByteArray state_event(const relay_statuses& shown, link_condition link);

}  // namespace relay
