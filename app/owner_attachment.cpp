#include "app/owner_attachment.h"

#include "attach/connect_words.h"
#include "service/owner_lookup.h"

#include <cerrno>

namespace relay {
namespace {

std::string asked_words(command_kind kind, int relay)
{
    std::string words = "\"";
    words += command_word(kind);
    words += "\"";
    if (takes_relay(kind))
        words += " for relay " + std::to_string(relay);
    return words;
}

}  // namespace

owner_attachment::owner_attachment(QObject* parent) : QObject(parent) {}

owner_attachment::~owner_attachment()
{
    if (client)
        client->remove_listener(this);
}

board_owner::found owner_attachment::attach(const std::string& device_path, board_owner::listener* to)
{
    detach();
    forbidden_why.clear();
    const auto owner = find_owner(device_path);
    if (!owner)
        return found::none;
    if (owner->probe.state == socket_state::forbidden) {
        forbidden_why = connect_failure_words(owner->path, EACCES);
        return found::forbidden;
    }
    if (!client || client->socket_path() != owner->path) {
        if (client)
            client->remove_listener(this);
        client = std::make_unique<owner_client>(loop, owner->path);
        client->add_listener(this);
    }
    told = to;
    client->attach();
    return found::attaching;
}

void owner_attachment::detach()
{
    // Not told of its own detaching, nor of the commands it leaves behind.
    told = nullptr;
    asked.clear();
    if (client)
        client->detach();
}

owner_report owner_attachment::report() const
{
    owner_report seen;
    seen.why = forbidden_why;
    if (!client)
        return seen;
    seen.attached = client->is_attached();
    seen.relays = client->relays();
    seen.link = client->link();
    seen.port = client->board().port;
    seen.address = client->board().address;
    seen.program = client->owner().program;
    seen.pid = client->owner().pid;
    if (!seen.attached)
        seen.why = client->why();
    return seen;
}

void owner_attachment::send(command_kind kind, int relay)
{
    if (!client)
        return;
    asked[client->send(kind, relay)] = asked_words(kind, relay);
}

void owner_attachment::command_finished(owner_client::ticket id, const owner_answer& answer)
{
    const auto found = asked.find(id);
    if (found == asked.end())
        return;
    const auto what = found->second;
    asked.erase(found);
    if (!answer.confirmed && told)
        told->owner_refused("The board's owner did not carry out " + what + ": " + answer.words);
}

void owner_attachment::changed()
{
    if (told)
        told->owner_changed();
}

}  // namespace relay
