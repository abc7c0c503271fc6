#include "web/page_client.h"

#include "service/replies.h"
#include "service/request.h"

#include <nlohmann/json.hpp>

namespace relay::web {

using json = nlohmann::json;

namespace {

// quoted_name: the board's name as a JSON string, made once a page.
std::string with_quoted_board(const std::string& quoted_name, const std::string& line)
{
    auto end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
        --end;
    if (end < 2 || line.front() != '{')
        return line.substr(0, end);
    const bool empty_object = line.find_first_not_of(" \t", 1) == end - 1;
    std::string text;
    text.reserve(end + quoted_name.size() + 10);
    text.append("{\"board\":").append(quoted_name);
    if (!empty_object)
        text.push_back(',');
    text.append(line, 1, end - 1);
    return text;
}

}  // namespace

std::string with_board(const std::string& board, const std::string& line)
{
    return with_quoted_board(json(board).dump(), line);
}

page_client::page_client(const std::vector<served_board>& boards, std::string origin, send_function send)
    : boards(boards), origin(std::move(origin)), send(std::move(send))
{
}

page_client::~page_client()
{
    for (const auto& [name, guest] : guests)
        if (const auto* board = board_named(name))
            board->socket->remove_guest(guest);
}

std::string page_client::boards_event() const
{
    json names = json::array();
    json pulses = json::object();
    for (const auto& board : boards) {
        names.push_back(board.name);
        for (std::size_t i = 0; i < board.pulses.size(); ++i)
            if (board.pulses[i])
                pulses[board.name][std::to_string(i + 1)] = board.pulses[i]->count();
    }
    json event{{"event", "boards"}, {"boards", names}};
    if (!pulses.empty())
        event["pulses"] = pulses;
    return event.dump();
}

const served_board* page_client::board_named(const std::string& name) const
{
    for (const auto& board : boards)
        if (board.name == name)
            return &board;
    return nullptr;
}

bool page_client::deliver(const std::string& quoted_board, const std::string& line)
{
    return send(with_quoted_board(quoted_board, line));
}

void page_client::heard(const std::string& message)
{
    // Read only far enough to find the board; the board's socket reads the
    // request itself, with its own words for whatever is wrong in it.
    const auto refuse = [this](const std::string& why) {
        auto reply = error_reply(std::string(), reply_code::usage, why);
        reply.pop_back();
        send(reply);
    };
    if (message.size() > max_request_bytes) {
        refuse("The message is longer than " + std::to_string(max_request_bytes) + " bytes.");
        return;
    }
    const auto document = json::parse(message, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        refuse("Send one JSON object with \"board\" naming a board, such as {\"board\":\"" +
               (boards.empty() ? std::string("board") : boards.front().name) + "\",\"cmd\":\"status\"}.");
        return;
    }
    const auto board_key = document.find("board");
    if (board_key == document.end() || !board_key->is_string()) {
        refuse("The message needs \"board\": the name of a board, as the \"boards\" event lists them.");
        return;
    }
    const auto& name = board_key->get_ref<const std::string&>();
    const auto* board = board_named(name);
    if (!board) {
        refuse(name.size() <= 64 ? "There is no board \"" + name + "\"." : "There is no such board.");
        return;
    }
    auto guest = guests.find(name);
    if (guest == guests.end() || !board->socket->has_guest(guest->second)) {
        const auto id = board->socket->add_guest(
            origin, [this, quoted = json(name).dump()](const std::string& line) { return deliver(quoted, line); });
        if (id == 0)
            return;  // the socket said "busy" through deliver
        guest = guests.insert_or_assign(name, id).first;
    }
    auto request = document;
    request.erase("board");
    board->socket->guest_says(guest->second, request.dump());
}

}  // namespace relay::web
