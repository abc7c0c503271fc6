#include "relayd/board_service.h"

#include "relayd/daemon_log.h"
#include "relayd/pending_file.h"
#include "serial/port_catalog.h"
#include "text/shown_text.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace relay::relayd {
namespace {

// So that a sentence can follow it.
std::string as_sentence(std::string text)
{
    if (!text.empty() && text.back() != '.' && text.back() != '?' && text.back() != '!')
        text += '.';
    return text;
}

}  // namespace

board_service::board_service(io_loop& loop, board_config config, bool system_mode)
    : config_(std::move(config)), system_mode(system_mode), loop(loop), parts(loop),
      open_retry(loop, [this] { try_open(); }), first_answer(loop, [this] { no_first_answer(); })
{
    parts.core.add_listener(this);
    parts.core.set_address(config_.address);
    parts.core.set_rules(config_.rules);

    // Named after the device, so that relayctl finds the owner of a port by
    // the port alone; a numbered port that is not there yet is named as the
    // device its text would open. A socket named otherwise answers there too.
    const auto resolved = resolve_port(config_.port, parts.catalog);
    device = resolved.port ? resolved.port->path : "/dev/" + config_.port;
    usual_socket_path = board_socket::usual_path(device, system_mode);
    socket_path_ = config_.socket.empty() ? usual_socket_path : config_.socket;
}

board_service::~board_service() { parts.core.remove_listener(this); }

void board_service::tick()
{
    if (ticking)
        parts.core.tick();
}

bool board_service::serve_socket()
{
    // Whoever answers at the device's usual path owns the port: the panel
    // while connected, or another relayd. Two owners of one port cannot
    // both poll it.
    if (const auto owner = board_socket::server_at(usual_socket_path); !owner.empty()) {
        log(priority::error, "the port " + device + " is held by " + owner + ", which shares it at " +
                                 usual_socket_path + ". Disconnect or stop it, then start "
                                 "relayd again");
        return false;
    }
    socket = std::make_unique<board_socket>(loop, parts.core);
    socket->set_audit([this](const std::string& line, bool confirmed) { audit(line, confirmed); });
    socket->set_relay_names(config_.names);
    const auto result = socket->listen(socket_path_, system_mode);
    if (!result.ok) {
        log(priority::error,
            "cannot serve the control socket at " + shown_text(socket_path_) + ": " + result.reason);
        socket.reset();
        return false;
    }
    log(priority::info, "socket listening at " + shown_text(socket_path_));
    if (socket_path_ != usual_socket_path) {
        const auto why = socket->also_answer_at(usual_socket_path, system_mode);
        if (why.empty())
            log(priority::info, "socket also at " + shown_text(usual_socket_path));
        else
            log(priority::warning, "relayctl --port " + shown_text(device) + " will not find this board: " + why);
    }
    return true;
}

void board_service::start_polling() { try_open(); }

void board_service::try_open()
{
    const auto opened = parts.core.connect(config_.port);
    if (opened.ok) {
        open_retry.stop();
        return;
    }
    open_refused(opened);
    if (!open_retry.is_active())
        open_retry.start_every(reopen_period);
}

void board_service::open_refused(const open_result& why)
{
    // Said once, then again only when the reason changes, so a board left
    // unplugged does not fill the journal. Whoever holds the port is named;
    // relayd itself waits for it.
    if (why.reason == last_open_failure)
        return;
    if (last_open_failure.empty())
        log(priority::error, "cannot open port '" + shown_text(config_.port) + "': " + as_sentence(why.reason) +
                                 " Trying again every second.");
    else
        log(priority::warning, "port '" + shown_text(config_.port) + "' still cannot be opened, now: " + why.reason);
    last_open_failure = why.reason;
}

void board_service::link_changed(link_condition now)
{
    const auto before = link_;
    link_ = now;
    const auto& board = parts.core;
    const std::string port = shown_text(board.port().path);

    if (now == link_condition::lost) {
        first_answer.stop();
        if (board.port_lost()) {
            log(priority::error, as_sentence(board.lost_reason()) + " Reopening it every second.");
            interrupted = true;
        }
    } else if (before == link_condition::lost) {
        log(priority::info, std::string("port ") + port + (ever_opened ? " reopened" : " opened") + ", polling " + board_words() +
                   " every " + std::to_string(poll_period.count()) + " ms");
        ever_opened = true;
        last_open_failure.clear();
        told_silent = false;
        first_answer.start_once(watchdog_time);
    }

    if (now == link_condition::answering) {
        first_answer.stop();
        log(priority::info, board_words() + (interrupted ? " answering again" : " answering"));
        told_silent = false;
        interrupted = false;
    } else if (now == link_condition::silent && before == link_condition::answering) {
        log(priority::warning, board_words() + " silent: no valid status frame for " + std::to_string(watchdog_time.count()) + " ms");
        told_silent = true;
        interrupted = true;
    }
    if (!stopping)
        for (const auto& heard : link_heard)
            heard();
}

void board_service::silent_port_reopened(int times)
{
    // Once per silence: the reopenings that follow add nothing new.
    if (times != 1)
        return;
    const auto repeat = std::chrono::duration_cast<std::chrono::seconds>(silent_port_reopen_period);
    log(priority::warning, board_words() + " silent for " + std::to_string(silent_port_reopen_after.count()) +
                               " ms; port " + parts.core.port().path + " closed and reopened, again every " +
                               std::to_string(repeat.count()) + " s while the silence lasts");
}

void board_service::warning(const std::string& text) { log(priority::warning, text); }

void board_service::notice(const std::string& text) { log(priority::info, text); }

void board_service::keep_pending_steps_in(const std::string& path)
{
    pending_path = path;
    if (path.empty())
        return;
    using std::chrono::milliseconds;
    const auto now = std::chrono::system_clock::now();
    const auto read = load_pending_steps(path, now);
    for (const auto& why : read.ignored)
        log(priority::warning, "a timed step left by an earlier run is ignored: " + shown_text(path) + " " +
                                   shown_text(why));
    for (const auto& step : read.steps) {
        const auto until_due = std::chrono::duration_cast<milliseconds>(step.due - now);
        const auto left = time_left_of(step, now);
        const auto word = step.final_state == relay_state::on ? "on" : "off";
        std::string when = left.count() > 0 ? "in " + std::to_string(left.count()) + " ms" : "at once";
        if (until_due.count() <= 0)
            when += " (due " + std::to_string(-until_due.count()) + " ms ago)";
        else if (left < until_due)
            when += " (due in " + std::to_string(until_due.count()) +
                    " ms by the clock, longer than the step lasts: the clock is behind)";
        log(priority::warning, "relay " + std::to_string(step.relay) + " goes " + word + " " + when +
                                   " once the board answers: a timed step left by an earlier run");
        parts.core.resume_step(step.relay, step.final_state, left);
    }
}

void board_service::pending_steps_changed()
{
    // While stopping, the steps not proven stay in the file for the next run.
    if (pending_path.empty() || stopping)
        return;
    const auto now = std::chrono::system_clock::now();
    std::vector<saved_step> steps;
    for (const auto& step : parts.core.pending_steps())
        steps.push_back({step.relay, step.final_state,
                         now + std::chrono::duration_cast<std::chrono::system_clock::duration>(step.time_left),
                         step.duration});
    const auto why = save_pending_steps(pending_path, steps);
    if (!why.empty() && why != last_save_failure)
        log(priority::error, "cannot keep the timed steps in " + shown_text(pending_path) + ": " + why +
                                 "; a restart would not carry them out");
    last_save_failure = why;
}

void board_service::no_first_answer()
{
    if (link_ != link_condition::silent || told_silent)
        return;
    log(priority::warning, board_words() + " silent: no valid status frame since the port opened");
    told_silent = true;
    interrupted = true;
}

void board_service::stop()
{
    stopping = true;
    open_retry.stop();
    first_answer.stop();
    if (socket) {
        socket->close();
        socket.reset();
    }
    // Stops the ticks and the reopening and closes the port.
    parts.core.disconnect();
}

std::string board_service::board_words() const
{
    return "board at address " + std::to_string(config_.address);
}

void board_service::audit(const std::string& line, bool confirmed) const
{
    log(confirmed ? priority::info : priority::warning, line);
}

void board_service::log(priority level, const std::string& text) const
{
    log_line(level, config_.name + ": " + text);
}

}  // namespace relay::relayd
