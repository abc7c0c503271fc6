#pragma once
// One web page's view of relayd's boards over its WebSocket: each message
// is a control socket request with a "board" key naming the board, handed
// to that board's control socket as one of its clients (a guest), so that
// the socket's own parser, request book and limits answer it. Each reply
// and watch event comes back with the same "board" key. On the first
// message the page hears which boards there are, and the pulse each relay
// with a pulse button gives, in milliseconds:
//   {"event":"boards","boards":["cabinet","bench"],"pulses":{"cabinet":{"2":500}}}

#include "protocol/frame.h"
#include "service/control_socket.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <map>
#include <string>
#include <vector>

namespace relay::web {

struct served_board {
    std::string name;
    control_socket* socket = nullptr;  // outlives the pages
    // The pulse a relay's button asks for; none, no button.
    std::array<std::optional<std::chrono::milliseconds>, relay_count> pulses{};
};

class page_client {
public:
    // send returns false once the page has fallen too far behind.
    using send_function = std::function<bool(const std::string& message)>;

    // origin names the page in the audit ("web page from 192.0.2.7").
    page_client(const std::vector<served_board>& boards, std::string origin, send_function send);
    ~page_client();
    page_client(const page_client&) = delete;
    page_client& operator=(const page_client&) = delete;

    std::string boards_event() const;
    void heard(const std::string& message);

private:
    const served_board* board_named(const std::string& name) const;
    bool deliver(const std::string& quoted_board, const std::string& line);

    const std::vector<served_board>& boards;
    std::string origin;
    send_function send;
    // Each board's guest id, made at the first request for that board.
    std::map<std::string, control_socket::guest_id> guests;
};

// A control socket line (a JSON object and its newline) with "board" first.
std::string with_board(const std::string& board, const std::string& line);

}  // namespace relay::web
