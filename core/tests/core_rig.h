#pragma once
// One board core on an in-memory port, stepped tick by tick, with senders
// and a listener that keep everything they are told.

#include "fake_board.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace relay::testing {

// A client that queued commands: every end it hears, in order.
struct recording_sender : board_core::sender {
    void command_finished(command_id id, const command_result& result) override { ends.emplace_back(id, result); }

    std::vector<std::pair<command_id, command_result>> ends;
};

// What the core tells its listeners, one word per event, in order.
struct recording_listener : board_core::listener {
    explicit recording_listener(board_core& board) : board(board) { board.add_listener(this); }
    ~recording_listener() { board.remove_listener(this); }
    recording_listener(const recording_listener&) = delete;
    recording_listener& operator=(const recording_listener&) = delete;

    void status_reported(const relay_states& states) override
    {
        events.push_back("status " + words(states));
        reported.push_back(states);
    }
    void relays_changed(const relay_states& states) override { events.push_back("relays " + words(states)); }
    void link_changed(link_condition now) override
    {
        events.push_back(std::string("link ") + link_word(now));
        links.push_back(now);
    }
    void connection_changed(bool connected) override { events.push_back(connected ? "connected" : "disconnected"); }
    void silent_port_reopened(int times) override
    {
        events.push_back("reopened " + std::to_string(times));
        reopens.push_back(times);
    }
    void mailbox_command_finished(const command_result& result) override { mailbox_ends.push_back(result); }

    static std::string words(const relay_states& states)
    {
        std::string out;
        for (const auto state : states)
            out += state == relay_state::on ? "1" : state == relay_state::off ? "0" : "?";
        return out;
    }

    board_core& board;
    std::vector<std::string> events;
    std::vector<relay_states> reported;
    std::vector<link_condition> links;
    std::vector<int> reopens;
    std::vector<command_result> mailbox_ends;
};

struct core_rig : fake_board {
    // Call as ASSERT_TRUE(rig.connect()): a failure here must end the test.
    ::testing::AssertionResult connect(const std::string& port = "1")
    {
        const auto result = board.connect(port);
        if (!result.ok)
            return ::testing::AssertionFailure() << "the core did not connect: " << result.reason;
        return ::testing::AssertionSuccess();
    }
};

constexpr relay_state off = relay_state::off;
constexpr relay_state on = relay_state::on;
constexpr relay_state unknown = relay_state::unknown;

}  // namespace relay::testing

// Lets gtest print how a command ended when a check fails.
namespace relay {
inline std::ostream& operator<<(std::ostream& out, const command_result& r)
{
    static const char* const ends[] = {"confirmed", "refused",  "no_answer",  "port_gone",
                                       "not_sent",  "replaced", "interlocked"};
    out << ends[static_cast<int>(r.how)] << " \"" << describe_command(r.command) << "\"";
    if (r.at_deadline)
        out << " at the deadline";
    if (!r.why.empty())
        out << " (" << r.why << ")";
    return out;
}
}  // namespace relay
