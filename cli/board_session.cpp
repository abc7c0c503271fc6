#include "cli/board_session.h"

#include "cli/command_plan.h"
#include "cli/exit_codes.h"

#include <QEventLoop>

namespace relay::cli {

board_session::board_session(serial_link& link, const options& opts, std::ostream& out, std::ostream& err)
    : link(link), opts(opts), out(out), err(err)
{
    // A coarse timer may fire up to 5 % early, and a script's timeout is a promise.
    ticker.setTimerType(Qt::PreciseTimer);
    deadline.setTimerType(Qt::PreciseTimer);
    hold.setTimerType(Qt::PreciseTimer);
    hold.setSingleShot(true);
    hold.setInterval(static_cast<int>(opts.duration.count()));
    ticker.setInterval(query_interval_ms(opts.timeout_ms));
    deadline.setSingleShot(true);
    deadline.setInterval(opts.timeout_ms);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [this] { tick(); });
    QObject::connect(&deadline, &QTimer::timeout, &deadline, [this] { deadline_passed(); });
    QObject::connect(&hold, &QTimer::timeout, &hold, [this] { hold_ended(); });
}

board_session::~board_session() { link.set_events(nullptr); }

int board_session::run()
{
    const auto opened = link.open_port(opts.port);
    if (!opened.ok) {
        err << "relayctl: " << opened.reason;
        if (opened.holders == 1)
            err << " Try again once it has closed the port.";
        else if (opened.holders > 1)
            err << " Try again once they have closed the port.";
        err << '\n' << no_owner_hint();
        return exit_port;
    }
    link.set_events(this);

    QEventLoop loop;
    stop_loop = [&loop] { loop.quit(); };
    // The first frame goes out from inside the loop, so that an answer or a
    // failure can never arrive before the loop is there to end.
    QTimer::singleShot(0, &ticker, [this] {
        if (now != phase::idle)
            return;
        if (opts.command == command_kind::status || opts.command == command_kind::toggle) {
            now = phase::reading;
            if (!send(status_query))
                return;
        } else {
            now = phase::confirming;
            rule.emplace(*command_for(opts));
            final_step = final_step_for(opts);
            if (!send(rule->command()))
                return;
            if (final_step)
                hold.start();
        }
        deadline.start();
        ticker.start();
    });
    now = phase::idle;
    loop.exec();
    stop_loop = nullptr;
    link.set_events(nullptr);
    link.close_port();
    if (output_failed && exit_code == exit_success) {
        // A script that reads nothing must not take silence for success.
        err << "relayctl: could not write the result to standard output\n";
        return exit_output;
    }
    return exit_code;
}

bool board_session::send(const command_tuple& command)
{
    const auto result = link.send_frame(opts.address, command);
    if (result == send_result::sent) {
        query_outstanding = command == status_query;
        return true;
    }
    err << "relayctl: could not write to " << link.port().path << '\n';
    finish(exit_port);
    return false;
}

void board_session::tick()
{
    if (now == phase::reading || now == phase::confirming)
        send(status_query);
}

void board_session::status_frame_received(const frame& rx)
{
    if (!is_valid_status(rx))
        return;
    const relay_statuses statuses = decode_status(rx);

    if (now == phase::reading) {
        if (opts.command == command_kind::status) {
            print_states(statuses);
            finish(exit_success);
            return;
        }
        // Toggle: a relay the board cannot report has no opposite; ask again.
        const auto command = command_for(opts, statuses);
        if (!command)
            return;
        rule.emplace(*command);
        now = phase::confirming;
        if (send(rule->command()))
            ticker.start();  // give the board a whole interval before asking
        return;
    }

    if (now != phase::confirming || !query_outstanding)
        return;
    const auto verdict = rule->frame_after_send(statuses);
    if (verdict == confirmation::verdict::waiting)
        return;
    if (verdict == confirmation::verdict::confirmed && final_step) {
        now = phase::holding;
        ticker.stop();
        deadline.stop();
        if (hold_over)
            start_final_step();
        return;
    }
    print_states(statuses);
    if (verdict == confirmation::verdict::confirmed) {
        finish(exit_success);
        return;
    }
    err << "relayctl: the board at address " << int(opts.address) << " answered but did not "
        << describe_command(rule->command()) << '\n';
    finish(exit_not_taken);
}

void board_session::deadline_passed()
{
    if (now == phase::done)
        return;
    if (now == phase::confirming && rule && rule->last_seen()) {
        print_states(*rule->last_seen());
        err << "relayctl: the board at address " << int(opts.address) << " answered but did not "
            << describe_command(rule->command()) << " within " << opts.timeout_ms << " ms\n";
        finish(exit_not_taken);
        return;
    }
    err << "relayctl: no valid answer from the board at address " << int(opts.address) << " on "
        << link.port().path << " within " << opts.timeout_ms << " ms\n"
        << no_owner_hint();
    finish(exit_no_answer);
}

std::string board_session::no_owner_hint() const
{
    // Port 1 was only a guess: say why relayctl made it, since the board
    // the user means is often one the panel shows but has not connected.
    if (opts.port_given)
        return {};
    return "relayctl: no --port given, and no relay-panel or relayd serves a board here, so port 1 was asked; "
           "connect the panel to its board, or name the port with --port\n";
}

void board_session::hold_ended()
{
    hold_over = true;
    if (now == phase::holding)
        start_final_step();
}

void board_session::start_final_step()
{
    rule.emplace(*final_step);
    final_step.reset();
    now = phase::confirming;
    if (!send(rule->command()))
        return;
    deadline.start();
    ticker.start();
}

void board_session::link_lost(const std::string& reason)
{
    if (now == phase::done)
        return;
    err << "relayctl: " << reason << '\n';
    finish(exit_port);
}

void board_session::print_states(const relay_statuses& statuses)
{
    out << format_states({link.port().path, opts.address, statuses}, opts.json) << '\n';
    out.flush();
    output_failed = output_failed || !out;
}

void board_session::finish(int code)
{
    if (now == phase::done)
        return;
    now = phase::done;
    exit_code = code;
    ticker.stop();
    deadline.stop();
    hold.stop();
    if (stop_loop)
        stop_loop();
}

}  // namespace relay::cli
