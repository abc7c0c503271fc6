// Measures the poll cycle of the real panel: its logic, its serial link and
// its widgets (offscreen) against the simulated board on a pseudo-terminal.

#include "bench/attached_window.h"
#include "bench/bare_poll_loop.h"
#include "bench/cpu_clock.h"
#include "bench/qt_poll_loop.h"
#include "bench/stats.h"
#include "bench/window_probes.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/main_form.h"
#include "session/event_dispatcher.h"
#include "session/panel_session.h"
#include "ui/threaded_panel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>

// Under callgrind (--instr-atstart=no) only the polling window is counted:
// instructions per tick, the one figure that does not move from run to run.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif
#include <ctime>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using relay::bench::ms_between;
using relay::bench::paint_watch;
using relay::bench::run_for;
using relay::bench::steady;

// Periods of a bare absolute-sleep loop: what this machine's scheduler
// allows any 100 ms timer, the floor under the panel's own figures.
std::vector<double> sleep_loop_periods(int count)
{
    std::vector<double> periods;
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    auto previous = steady::now();
    for (int i = 0; i < count; ++i) {
        due.tv_nsec += 100'000'000;
        if (due.tv_nsec >= 1'000'000'000) {
            due.tv_nsec -= 1'000'000'000;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        const auto now = steady::now();
        periods.push_back(ms_between(previous, now));
        previous = now;
    }
    periods.erase(periods.begin());  // the first starts at an arbitrary moment
    return periods;
}

// The panel as relay-panel runs it: the session on a thread of its own, the
// window on the application's. With `on_window_thread` the session shares
// the window's thread instead, as the panel did before, for comparison.
struct panel_under_test {
    relay::pty_board board;
    std::unique_ptr<relay::threaded_panel> threaded;
    std::unique_ptr<relay::panel_session> shared;
    std::unique_ptr<relay::panel_controller> shared_logic;
    std::unique_ptr<relay::main_form> window;

    panel_under_test(relay::qt_serial_device::write_path writing, bool on_window_thread)
    {
        if (on_window_thread) {
            shared = std::make_unique<relay::panel_session>();
            shared_logic = std::make_unique<relay::panel_controller>(shared->core());
            window = std::make_unique<relay::main_form>(*shared_logic, shared->catalog());
        } else {
            threaded = std::make_unique<relay::threaded_panel>();
            window = std::make_unique<relay::main_form>(threaded->logic(), threaded->session.catalog(),
                                                        &threaded->session);
        }
        in_session([writing](relay::panel_session& s) { s.port_device().set_write_path(writing); });
        window->show();
        window->widgets().chuankou_num->setText(QString::fromStdString(board.slave_path()));
        window->widgets().open_comm->click();
        bool connected = false;
        in_session([&connected](relay::panel_session& s) { connected = s.core().connected(); });
        if (!connected) {
            std::fprintf(stderr, "relay-bench: cannot connect to %s\n", board.slave_path().c_str());
            std::exit(1);
        }
    }

    // Runs work on the session's thread and waits for it.
    void in_session(const std::function<void(relay::panel_session&)>& work)
    {
        if (threaded)
            threaded->session.run([&] { work(threaded->session.session()); });
        else
            work(*shared);
    }

    // The session thread's CPU clock and wake-ups, read on that thread; none
    // apart from the window's when they share one.
    std::pair<double, long> session_cpu_and_wakeups();
};

// Times the calling thread gave up the CPU to wait: its wake-ups.
long voluntary_switches()
{
    std::FILE* status = std::fopen("/proc/thread-self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long count = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "voluntary_ctxt_switches: %ld", &count) == 1)
            break;
    std::fclose(status);
    return count;
}

std::pair<double, long> panel_under_test::session_cpu_and_wakeups()
{
    std::pair<double, long> taken{0.0, 0};
    if (threaded)
        threaded->session.run([&taken] {
            taken = {relay::bench::cpu_clock_seconds(CLOCK_THREAD_CPUTIME_ID), voluntary_switches()};
        });
    return taken;
}

void print_row(const char* what, const relay::bench::summary& s, const char* goal)
{
    std::printf("| %-34s | %7zu | %8.2f | %8.2f | %8.2f | %8.2f | %-22s |\n", what, s.count, s.median, s.p1, s.p99,
                s.max, goal);
}

int startup_child(int argc, char** argv)
{
    relay::use_qt_event_dispatcher();
    QApplication app(argc, argv);
    relay::threaded_panel panel;
    relay::main_form window(panel.logic(), panel.session.catalog(), &panel.session);
    struct first_paint : QObject {
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) {
                std::puts("shown");
                std::fflush(stdout);
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
            return false;
        }
    } watch;
    window.installEventFilter(&watch);
    window.show();
    return app.exec();
}

double startup_ms(const char* self)
{
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(QString::fromLocal8Bit(self), {QStringLiteral("--startup-child")});
    if (!child.waitForStarted(5000))
        return -1;
    while (!child.canReadLine())
        if (!child.waitForReadyRead(5000))
            return -1;
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    child.waitForFinished(5000);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--startup-child")
        return startup_child(argc, argv);
    bool quick = false;
    bool on_window_thread = false;
    auto writing = relay::qt_serial_device::write_path::direct;
    const char* writing_name = "direct";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--window-thread") {
            on_window_thread = true;
        } else if (arg == "--write" && i + 1 < argc) {
            writing_name = argv[++i];
            if (std::string(writing_name) == "qt-flush")
                writing = relay::qt_serial_device::write_path::qt_then_flush;
            else if (std::string(writing_name) == "qt")
                writing = relay::qt_serial_device::write_path::qt;
            else if (std::string(writing_name) != "direct")
                return std::fprintf(stderr, "relay-bench: --write direct|qt-flush|qt\n"), 2;
        } else {
            std::fprintf(stderr, "usage: relay-bench [--quick] [--window-thread] [--write direct|qt-flush|qt]\n");
            return 2;
        }
    }
    const auto poll_span = quick ? 10s : 61s;
    const int clicks = quick ? 40 : 200;
    const int status_samples = quick ? 40 : 200;
    // The attached window's goal is a 99th percentile, which forty samples
    // cannot tell from their maximum: one late wake-up of any of the three
    // processes and threads on the way would decide it.
    const int attached_status_samples = 300;
    const relay::bench::attached_window_plan attached_plan{quick ? 10s : 60s, clicks, attached_status_samples};
    // Before any thread starts: where relayd serves the attached window.
    const auto runtime_folder = relay::bench::use_own_runtime_folder();

    relay::use_qt_event_dispatcher();
    QApplication app(argc, argv);
    panel_under_test panel(writing, on_window_thread);
    auto& board = panel.board;
    const auto& ui = panel.window->widgets();

    // Polling, undisturbed: the period, the frame rate and the cost.
    run_for(1s);
    const std::size_t first_frame = board.frame_count();
    // The panel's own ticks, seen from its thread: tells the timer's jitter
    // apart from the line's and the board thread's.
    std::vector<steady::time_point> ticks;
    ticks.reserve(1000);
    // Heard on the session's thread, so that counting wakes nothing else;
    // read once that thread has stopped writing.
    QMetaObject::Connection tick_watch;
    panel.in_session([&](relay::panel_session& session) {
        tick_watch = QObject::connect(&session.timer(), &relay::poll_ticker::timeout, &session,
                                      [&ticks] { ticks.push_back(steady::now()); });
    });
    // The yardsticks run meanwhile on threads of their own, on boards of
    // their own: same time, same machine. Each ticks at its own place in
    // the panel's 100 ms, as programs that know nothing of each other do:
    // loops that woke together would share the cost of waking an idle
    // processor, and the panel, alone at its place, would pay it all.
    relay::pty_board yardstick_board(1);
    relay::pty_board qt_floor_board(1);
    steady::time_point panel_tick;
    panel.in_session([&](relay::panel_session&) { panel_tick = ticks.empty() ? steady::now() : ticks.back(); });
    const auto at_place = [panel_tick](int fifth) {
        std::this_thread::sleep_until(panel_tick + 100ms + fifth * 20ms);
    };
    const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(poll_span);
    // The yardstick for CPU per tick: the panel's own I/O in plain C++.
    relay::bench::bare_poll_loop yardstick;
    std::thread yardstick_loop([&yardstick, &yardstick_board, span, at_place] {
        at_place(1);
        yardstick.run(yardstick_board.slave_path(), span);
    });
    // The floor of any program on Qt's event loop and QSerialPort: the same
    // I/O with no panel logic.
    relay::bench::qt_poll_loop qt_floor;
    std::thread qt_floor_loop([&qt_floor, &qt_floor_board, span, at_place] {
        at_place(2);
        qt_floor.run(qt_floor_board.slave_path(), span);
    });
    // The floor of the period: what this machine's scheduler allows any
    // 100 ms timer.
    std::vector<double> floor_periods;
    std::thread floor_loop([&floor_periods, poll_span, at_place] {
        at_place(3);
        floor_periods = sleep_loop_periods(static_cast<int>(poll_span / 100ms) - 1);
    });
    // The panel's thread is counted from here: the boards and threads of the
    // yardsticks above were made on it, and must not count as its polling.
    const double thread_cpu_before = relay::bench::cpu_clock_seconds(CLOCK_THREAD_CPUTIME_ID);
    const long switches_before = voluntary_switches();
    const auto [session_cpu_before, session_switches_before] = panel.session_cpu_and_wakeups();
    const double process_cpu_before = relay::bench::cpu_clock_seconds(CLOCK_PROCESS_CPUTIME_ID);
    CALLGRIND_START_INSTRUMENTATION;
    const auto poll_start = steady::now();
    run_for(std::chrono::duration_cast<std::chrono::milliseconds>(poll_span));
    const auto poll_end = steady::now();
    CALLGRIND_STOP_INSTRUMENTATION;
    const auto [session_cpu_after, session_switches_after] = panel.session_cpu_and_wakeups();
    const double thread_cpu = relay::bench::cpu_clock_seconds(CLOCK_THREAD_CPUTIME_ID) - thread_cpu_before;
    const long wakeups = voluntary_switches() - switches_before;
    const double session_cpu = session_cpu_after - session_cpu_before;
    const long session_wakeups = session_switches_after - session_switches_before;
    const double process_cpu = relay::bench::cpu_clock_seconds(CLOCK_PROCESS_CPUTIME_ID) - process_cpu_before;
    floor_loop.join();
    yardstick_loop.join();
    qt_floor_loop.join();
    panel.in_session([&](relay::panel_session&) { QObject::disconnect(tick_watch); });
    std::vector<double> tick_periods;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        tick_periods.push_back(ms_between(ticks[i - 1], ticks[i]));
    const double poll_minutes = ms_between(poll_start, poll_end) / 60000.0;

    const auto frames = board.received_frames();
    std::vector<double> periods;
    std::size_t in_first_minute = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        if (frames[i - 1].arrival < poll_start || frames[i].arrival > poll_end)
            continue;
        periods.push_back(ms_between(frames[i - 1].arrival, frames[i].arrival));
    }
    for (const auto& f : frames)
        if (f.arrival >= poll_start && f.arrival < poll_start + 60s)
            ++in_first_minute;
    (void)first_frame;

    // Clicks spread over the tick, timed until the board reads their frame.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> offset_ms(0, 99);
    std::vector<std::pair<steady::time_point, relay::frame>> clicked;
    for (int n = 0; n < clicks; ++n) {
        run_for(std::chrono::milliseconds(150 + offset_ms(random)));
        const int relay = n % relay::relay_count;
        const bool on = (n / relay::relay_count) % 2 == 0;
        relay::command_tuple command{relay::code_set_relays, {}};
        command.actions[static_cast<std::size_t>(relay)] = on ? relay::action_on : relay::action_off;
        clicked.push_back({steady::now(), relay::encode_command(1, command)});
        (on ? ui.open : ui.close)[static_cast<std::size_t>(relay)]->click();
    }
    run_for(300ms);
    std::vector<double> click_to_wire;
    const auto after_clicks = board.received_frames();
    for (const auto& [at, expected] : clicked) {
        for (const auto& f : after_clicks) {
            if (f.arrival >= at && f.bytes == expected) {
                click_to_wire.push_back(ms_between(at, f.arrival));
                break;
            }
        }
    }

    // Status frames put on the line right after each query, timed until
    // indicator 1 is repainted with the new state.
    board.set_silent(true);
    run_for(200ms);
    paint_watch watch(ui.Label6[0]);
    std::vector<steady::time_point> written;
    std::mutex written_lock;
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        std::size_t seen = board.frame_count();
        for (int n = 0; n < status_samples && !stop; ++n) {
            if (!board.wait_for_frame_count(seen + 1, 1000ms))
                break;
            seen = board.frame_count();
            const std::uint8_t state = n % 2 == 0 ? relay::status_on : relay::status_off;
            const auto f = relay::encode_status(1, 0, {state, state, state, state});
            {
                const std::lock_guard<std::mutex> guard(written_lock);
                written.push_back(steady::now());
            }
            board.inject(std::vector<std::uint8_t>(f.begin(), f.end()));
        }
    });
    run_for(std::chrono::milliseconds(status_samples * 100 + 1500));
    stop = true;
    feeder.join();
    const auto painted = watch.taken();
    std::vector<double> status_to_screen;
    for (const auto& at : written)
        for (const auto& p : painted)
            if (p >= at) {
                status_to_screen.push_back(ms_between(at, p));
                break;
            }

    // The same window attached to relayd, which polls a board of its own:
    // this window disconnected, so that the window's thread serves only that
    // one.
    ui.open_comm->click();
    const auto attached = relay::bench::measure_attached_window(attached_plan, runtime_folder);
    relay::bench::remove_runtime_folder(runtime_folder);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::vector<double> startups;
    for (int i = 0; i < 5; ++i)
        startups.push_back(startup_ms(argv[0]));

    std::printf("relay-panel poll cycle, %s run\n\n", quick ? "quick" : "full");
    std::printf("| %-34s | %7s | %8s | %8s | %8s | %8s | %-22s |\n", "measure (ms)", "samples", "median", "p1", "p99",
                "max", "goal");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(9, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(24, '-').c_str());
    print_row("poll period (frames at the board)", relay::bench::summarise(periods), "100.0 +-0.5, p99 +-3");
    print_row("tick period (in the panel)", relay::bench::summarise(tick_periods), "");
    print_row("floor: bare sleep loop, same time", relay::bench::summarise(floor_periods), "(this machine)");
    print_row("click to frame on the wire", relay::bench::summarise(click_to_wire), "max <= 101");
    print_row("status frame to indicator painted", relay::bench::summarise(status_to_screen), "max < 2");
    print_row("attached: click to frame on wire", attached.click_to_wire, "max <= 105 (tick + 5)");
    print_row("attached: status frame to painted", attached.status_to_screen, "p99 < 5");
    print_row("start-up to window shown", relay::bench::summarise(startups), "< 300");
    std::printf("\n");
    const auto period = relay::bench::summarise(periods);
    std::printf("frames in the first minute of polling: %zu (goal 600 +-1); mean period %.3f ms, %.2f frames a "
                "minute over the whole run (drift)\n",
                in_first_minute, period.mean, period.mean > 0 ? 60000.0 / period.mean : 0.0);
    const double panel_cpu = thread_cpu + session_cpu;
    std::printf("CPU while polling: the panel %.3f s/min (%.3f %% of a core) (goal < 0.5 %%), of it the window's "
                "thread %.3f %%; whole process with the board and the yardsticks %.3f s/min (%.3f %%)\n",
                panel_cpu / poll_minutes, panel_cpu / poll_minutes / 60.0 * 100.0,
                thread_cpu / poll_minutes / 60.0 * 100.0, process_cpu / poll_minutes,
                process_cpu / poll_minutes / 60.0 * 100.0);
    // Ticks inside the window the CPU clocks were read over; the list runs
    // on past it while the yardsticks finish.
    const auto ticks_in_window = static_cast<std::size_t>(std::count_if(
        ticks.begin(), ticks.end(), [&](steady::time_point t) { return t >= poll_start && t < poll_end; }));
    const double tick_count = static_cast<double>(std::max<std::size_t>(ticks_in_window, 1));
    const double panel_per_tick = panel_cpu / tick_count;
    std::printf("CPU per tick: panel %.1f us (session %s: session thread %.1f us and %.2f wake-ups a tick, window "
                "thread %.1f us and %.2f; %zu ticks, frames written %s), bare poll loop %.1f us (%ld ticks, %ld valid "
                "answers): ratio %.2f (goal <= 2)\n",
                panel_per_tick * 1e6, on_window_thread ? "on the window's thread" : "on its own thread",
                session_cpu / tick_count * 1e6, static_cast<double>(session_wakeups) / tick_count,
                thread_cpu / tick_count * 1e6, static_cast<double>(wakeups) / tick_count, ticks_in_window, writing_name,
                yardstick.cpu_per_tick() * 1e6, yardstick.ticks(), yardstick.valid_answers(),
                yardstick.cpu_per_tick() > 0 ? panel_per_tick / yardstick.cpu_per_tick() : 0.0);
    std::printf("CPU per tick on Qt's event loop and QSerialPort with no panel logic: %.1f us (%ld ticks, %ld valid "
                "answers), %.2f times the bare loop; the panel is %.2f times it\n",
                qt_floor.cpu_per_tick() * 1e6, qt_floor.ticks(), qt_floor.valid_answers(),
                yardstick.cpu_per_tick() > 0 ? qt_floor.cpu_per_tick() / yardstick.cpu_per_tick() : 0.0,
                qt_floor.cpu_per_tick() > 0 ? panel_per_tick / qt_floor.cpu_per_tick() : 0.0);
    if (!attached.failed.empty()) {
        std::printf("attached to relayd: nothing measured: %s\n", attached.failed.c_str());
    } else {
        const auto share = [&attached](double seconds) { return seconds / attached.minutes / 60.0 * 100.0; };
        const double attached_cpu = attached.session_cpu + attached.window_cpu;
        const double polling_share = panel_cpu / poll_minutes / 60.0 * 100.0;
        std::printf("CPU attached to relayd: the window %.1f ms/min (%.4f %% of a core; session thread %.1f ms/min, "
                    "window thread %.1f ms/min) against %.3f %% polling the port itself (goal: below it, %s); relayd "
                    "meanwhile %.3f %%\n",
                    attached_cpu / attached.minutes * 1e3, share(attached_cpu),
                    attached.session_cpu / attached.minutes * 1e3, attached.window_cpu / attached.minutes * 1e3,
                    polling_share, share(attached_cpu) < polling_share ? "met" : "missed",
                    share(attached.relayd_cpu));
    }
    std::printf("peak memory (RSS): %.1f MB (goal < 40 MB)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::printf("clicks matched: %zu of %d; status frames matched: %zu of %zu; attached to relayd: clicks matched %zu "
                "of %d, status frames matched %zu of %zu\n",
                click_to_wire.size(), clicks, status_to_screen.size(), written.size(), attached.click_to_wire.count,
                attached.clicks, attached.status_to_screen.count, attached.statuses_written);
    return 0;
}
