#include "bench/attached_window.h"

#include "app/owner_attachment.h"
#include "bench/cpu_clock.h"
#include "bench/relayd_child.h"
#include "bench/window_probes.h"
#include "protocol/frame.h"
#include "service/socket_paths.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/main_form.h"
#include "ui/threaded_panel.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>

namespace relay::bench {
namespace {

using namespace std::chrono_literals;

// Runs the window's loop until done() or the deadline; done() at the end.
template <typename Done>
bool run_until(Done done, std::chrono::milliseconds deadline)
{
    const auto until = steady::now() + deadline;
    while (!done() && steady::now() < until)
        run_for(20ms);
    return done();
}

// For each moment, the first time after it and before the next moment.
std::vector<double> first_after_each(const std::vector<steady::time_point>& moments,
                                     const std::vector<steady::time_point>& times)
{
    std::vector<double> taken;
    for (std::size_t i = 0; i < moments.size(); ++i)
        for (const auto& t : times) {
            if (t < moments[i])
                continue;
            if (i + 1 == moments.size() || t < moments[i + 1])
                taken.push_back(ms_between(moments[i], t));
            break;
        }
    return taken;
}

}  // namespace

std::string use_own_runtime_folder()
{
    char name[] = "/tmp/relay-bench-XXXXXX";
    if (!mkdtemp(name))
        return {};
    ::setenv("XDG_RUNTIME_DIR", name, 1);
    return name;
}

void remove_runtime_folder(const std::string& folder)
{
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

attached_window_figures measure_attached_window(const attached_window_plan& plan, const std::string& runtime_folder)
{
    attached_window_figures out;
    pty_board board(1);
    relayd_child relayd({"--port", board.slave_path()}, runtime_folder + "/relayd.log");
    const auto socket = user_socket_path(board.slave_path());
    if (!run_until([&] { return std::filesystem::exists(socket) && board.frame_count() >= 3; }, 5000ms)) {
        out.failed = "relayd did not serve " + socket + " (see " + runtime_folder + "/relayd.log)";
        return out;
    }

    owner_attachment* attachment = nullptr;
    threaded_panel panel([&attachment](panel_session&) -> std::shared_ptr<void> {
        auto made = std::make_shared<owner_attachment>();
        attachment = made.get();
        return made;
    });
    panel.session.run([&panel, attachment] { panel.logic().set_board_owner(attachment); });
    auto window = std::make_unique<main_form>(panel.logic(), panel.session.catalog(), &panel.session);
    const auto& ui = window->widgets();
    window->show();
    ui.chuankou_num->setText(QString::fromStdString(board.slave_path()));
    ui.open_comm->click();
    const bool attached = run_until(
        [&] {
            return window->windowTitle().contains("through relayd") &&
                   (ui.Label6[0]->text() == "on" || ui.Label6[0]->text() == "off");
        },
        5000ms);
    const auto leave = [&] {
        ui.open_comm->click();
        panel.session.run([&panel] { panel.logic().set_board_owner(nullptr); });
        window.reset();
    };
    if (!attached) {
        out.failed = "the window did not attach to relayd: " + window->windowTitle().toStdString();
        leave();
        return out;
    }

    // Attached and undisturbed: the window's cost against relayd's.
    const auto session_clock = [&panel] {
        double seconds = 0;
        panel.session.run([&seconds] { seconds = cpu_clock_seconds(CLOCK_THREAD_CPUTIME_ID); });
        return seconds;
    };
    const double session_before = session_clock();
    const double window_before = cpu_clock_seconds(CLOCK_THREAD_CPUTIME_ID);
    const double relayd_before = relayd.cpu_seconds();
    const auto idle_start = steady::now();
    run_for(plan.idle_span);
    out.minutes = ms_between(idle_start, steady::now()) / 60000.0;
    out.window_cpu = cpu_clock_seconds(CLOCK_THREAD_CPUTIME_ID) - window_before;
    out.relayd_cpu = relayd.cpu_seconds() - relayd_before;
    out.session_cpu = session_clock() - session_before;

    // Clicks at random points of relayd's tick, timed until the board reads
    // the set frame relayd sends for them.
    std::mt19937 random(54321);
    std::uniform_int_distribution<int> offset_ms(0, 99);
    std::vector<steady::time_point> clicked;
    for (int n = 0; n < plan.clicks; ++n) {
        run_for(std::chrono::milliseconds(150 + offset_ms(random)));
        const auto relay = static_cast<std::size_t>(n % relay_count);
        const bool on = (n / relay_count) % 2 == 0;
        clicked.push_back(steady::now());
        (on ? ui.open : ui.close)[relay]->click();
    }
    run_for(300ms);
    out.clicks = plan.clicks;
    std::vector<steady::time_point> set_frames;
    for (const auto& f : board.received_frames())
        if (f.bytes[2] == code_set_relays)
            set_frames.push_back(f.arrival);
    out.click_to_wire = summarise(first_after_each(clicked, set_frames));

    // The board silent, a status frame flipping relay 1 put on the line
    // right after each of relayd's queries: each answer is a change that
    // goes through relayd's watch event to the window.
    paint_watch watch(ui.Label6[0]);
    std::mutex lock;
    std::vector<steady::time_point> written;
    int left = plan.status_samples;
    bool on = false;
    board.set_silent(true);
    board.set_frame_observer([&](const received_frame&) {
        const std::lock_guard<std::mutex> guard(lock);
        if (left == 0)
            return;
        --left;
        on = !on;
        const std::uint8_t flipped = on ? status_on : status_off;
        const auto f = encode_status(1, 0, {flipped, status_off, status_off, status_off});
        written.push_back(steady::now());
        board.inject(std::vector<std::uint8_t>(f.begin(), f.end()));
    });
    run_until(
        [&] {
            const std::lock_guard<std::mutex> guard(lock);
            return left == 0;
        },
        std::chrono::milliseconds(plan.status_samples * 100 + 3000));
    run_for(300ms);
    board.set_frame_observer(nullptr);
    board.set_silent(false);
    {
        const std::lock_guard<std::mutex> guard(lock);
        out.statuses_written = written.size();
        out.status_to_screen = summarise(first_after_each(written, watch.taken()));
    }
    leave();
    return out;
}

}  // namespace relay::bench
