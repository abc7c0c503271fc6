#pragma once
// One run of relayctl against the board: open the port, read or switch the
// relays, and wait, within a deadline, for the board to prove the result.

#include "cli/options.h"
#include "cli/report.h"
#include "core/confirmation.h"
#include "protocol/frame.h"
#include "serial/serial_link.h"

#include <QTimer>

#include <optional>
#include <ostream>
#include <string>

namespace relay::cli {

class board_session : private serial_link::events {
public:
    board_session(serial_link& link, const options& opts, std::ostream& out, std::ostream& err);
    ~board_session();
    board_session(const board_session&) = delete;
    board_session& operator=(const board_session&) = delete;

    // Runs its own event loop until the board has answered or the deadline
    // has passed; returns relayctl's exit code. Needs a QCoreApplication.
    int run();

private:
    // A pulse or a cycle holds the relay between its two confirmed steps.
    enum class phase { idle, reading, confirming, holding, done };

    void status_frame_received(const frame& rx) override;
    void link_lost(const std::string& reason) override;
    void tick();
    void deadline_passed();
    std::string no_owner_hint() const;
    void hold_ended();
    void start_final_step();
    bool send(const command_tuple& command);
    void print_states(const relay_statuses& statuses);
    void finish(int code);

    serial_link& link;
    const options opts;
    std::ostream& out;
    std::ostream& err;

    phase now = phase::idle;
    // The command on the line, judged by the rule every sender uses. Only
    // answers to a query count here: the answer to the command frame itself
    // may still show the state from before the switch.
    std::optional<confirmation> rule;
    bool query_outstanding = false;
    int exit_code = 0;
    bool output_failed = false;

    // A pulse's or a cycle's step that ends it, until it is on the line.
    std::optional<command_tuple> final_step;
    bool hold_over = false;

    QTimer ticker;
    QTimer deadline;
    // Runs from the first step's frame: the relay stays switched for the
    // duration from when the board was asked, not from when it was seen.
    QTimer hold;
    std::function<void()> stop_loop;
};

}  // namespace relay::cli
