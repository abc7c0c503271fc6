#include "bench/relayd_scale.h"

#include "bench/bare_poll_loop.h"
#include "bench/board_farm.h"
#include "bench/relayd_child.h"
#include "sim/pty_board.h"

#ifdef RELAYD_BENCH_MQTT
#include "mqtt/tests/test_broker.h"
#include "protocol/frame.h"
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relay::bench {
namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds poll_period = 100ms;
// Frames every board must have heard before the window opens: relayd has
// opened every port and is past its start.
constexpr std::uint64_t settled_frames = 5;
constexpr std::chrono::seconds start_deadline = 60s;

// The goals the table is read against.
constexpr double most_ratio_to_loop = 1.5;
constexpr double most_growth_from_16 = 1.3;
constexpr double most_core_percent_at_256 = 20;
constexpr double least_per_minute = 599;
constexpr double most_per_minute = 601;
constexpr double most_rss_mb_at_1 = 12;
constexpr double most_rss_mb_at_256 = 30;

struct row_plan {
    int boards = 0;
    std::string mqtt_url;  // empty: relayd without MQTT
    // Waits for what else must be steady before the window opens, given
    // the boards' names; a reason when it is not.
    std::function<std::string(const std::vector<std::string>& names)> settle;
};

struct scale_row {
    int boards = 0;
    bool mqtt = false;
    std::string failure;  // empty when measured
    double window_s = 0;
    double cpu_s = 0;
    std::uint64_t frames = 0;
    double loop_per_tick_s = 0;
    double least_per_minute = 0;
    double most_per_minute = 0;
    double rss_mb = 0;
    double peak_rss_mb = 0;

    double per_board_tick_s() const { return frames > 0 ? cpu_s / static_cast<double>(frames) : 0; }
    double core_percent() const { return window_s > 0 ? 100 * cpu_s / window_s : 0; }
    double ratio_to_loop() const { return loop_per_tick_s > 0 ? per_board_tick_s() / loop_per_tick_s : 0; }
    std::string label() const { return std::to_string(boards) + (mqtt ? " + MQTT" : ""); }
};

std::string board_name(std::size_t index)
{
    std::string number = std::to_string(index + 1);
    return "b" + std::string(number.size() < 3 ? 3 - number.size() : 0, '0') + number;
}

// 256 boards' ports and sockets in relayd and the farm's four descriptors a
// board outgrow the usual soft limit of 1024; both inherit this one.
void raise_open_file_limit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

scale_row run_row(const row_plan& plan, std::chrono::seconds window, const std::string& dir)
{
    scale_row row;
    row.boards = plan.boards;
    row.mqtt = !plan.mqtt_url.empty();
    const std::string folder = dir + "/scale-" + std::to_string(plan.boards) + (row.mqtt ? "-mqtt" : "");
    mkdir(folder.c_str(), 0700);

    board_farm farm(plan.boards, folder + "/farm.log");
    if (!farm.ok()) {
        row.failure = farm.error();
        return row;
    }
    std::vector<std::string> names;
    std::string config;
    if (row.mqtt)
        config += "[mqtt]\nurl = " + plan.mqtt_url + "\n\n";
    for (std::size_t i = 0; i < farm.boards().size(); ++i) {
        names.push_back(board_name(i));
        config += "[board " + names.back() + "]\nport = " + farm.boards()[i].device +
                  "\naddress = " + std::to_string(farm.boards()[i].address) + "\nsocket = " + folder + "/" +
                  names.back() + ".sock\n";
    }
    std::ofstream(folder + "/relayd.conf") << config;
    // relayd remembers its discovery messages in the state folder: the
    // row's own, not the user's.
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1);

    relayd_child relayd({"--config", folder + "/relayd.conf"}, folder + "/relayd.log");
    const auto until = clock_type::now() + start_deadline;
    while (!farm.wait_for_frames(settled_frames, 1s)) {
        if (!farm.snapshot()) {
            row.failure = "the farm ended; see " + folder + "/farm.log";
            return row;
        }
        if (!relayd.running() || clock_type::now() > until) {
            row.failure = std::string(relayd.running() ? "not every board was polled" : "relayd ended") + "; see " +
                          folder + "/relayd.log";
            return row;
        }
    }
    if (plan.settle) {
        row.failure = plan.settle(names);
        if (!row.failure.empty())
            return row;
    }

    pty_board yardstick(1);
    bare_poll_loop loop;
    const auto before = farm.snapshot();
    const double cpu0 = relayd.cpu_seconds();
    const double farm_cpu0 = process_cpu_seconds(farm.pid());
    const long long wake_ups0 = relayd.wake_ups();
    loop.run(yardstick.slave_path(), window);
    const double farm_cpu = process_cpu_seconds(farm.pid()) - farm_cpu0;
    const long long wake_ups = relayd.wake_ups() - wake_ups0;
    const double cpu1 = relayd.cpu_seconds();
    const auto after = farm.snapshot();
    row.rss_mb = relayd.rss_mb();
    row.peak_rss_mb = relayd.peak_rss_mb();
    const int threads = relayd.threads();
    if (!before || !after || !relayd.running()) {
        row.failure = "relayd or the farm ended in the window; see " + folder;
        return row;
    }
    row.window_s = static_cast<double>(after->now_ns - before->now_ns) / 1e9;
    row.cpu_s = cpu1 - cpu0;
    for (std::size_t i = 0; i < after->frames.size(); ++i)
        row.frames += after->frames[i] - before->frames[i];
    row.loop_per_tick_s = loop.cpu_per_tick();
    const auto rates = frames_per_minute(*before, *after, poll_period);
    row.least_per_minute = *std::min_element(rates.begin(), rates.end());
    row.most_per_minute = *std::max_element(rates.begin(), rates.end());

    const int status = relayd.stop();
    // Wake-ups a tick tell a loop that serves every due board at once from
    // one that wakes for each.
    const double ticks = row.window_s / std::chrono::duration<double>(poll_period).count();
    std::printf("  %9s boards: %.2f s window, relayd %.3f s CPU (threads: %d, wake-ups a tick: %.1f), %llu frames, "
                "farm %.3f s CPU, bare loop %ld ticks (%ld valid answers), relayd exit status on SIGTERM %d\n",
                row.label().c_str(), row.window_s, row.cpu_s, threads, static_cast<double>(wake_ups) / ticks,
                static_cast<unsigned long long>(row.frames), farm_cpu, loop.ticks(), loop.valid_answers(), status);
    std::fflush(stdout);
    return row;
}

scale_row measure(const row_plan& plan, std::chrono::seconds window, const std::string& dir)
{
    auto row = run_row(plan, window, dir);
    if (!row.failure.empty()) {
        std::printf("  %9s boards: not measured: %s\n", row.label().c_str(), row.failure.c_str());
        std::fflush(stdout);
    }
    return row;
}

#ifdef RELAYD_BENCH_MQTT
// The row on a real broker: every board's four relays seen on it before the
// window, so that the start's burst of messages stays out of it.
scale_row measure_on_mqtt(int boards, std::chrono::seconds window, const std::string& dir)
{
    namespace rt = relay::mqtt::testing;
    scale_row row;
    row.boards = boards;
    row.mqtt = true;
    rt::test_broker broker;
    std::string why;
    if (!broker.start(why)) {
        row.failure = why;
        return row;
    }
    rt::test_client watcher(broker.port(), {"relay-panel/+/relay/+"});
    if (!rt::wait_until([&] { return watcher.ready(); })) {
        row.failure = "the watching client did not subscribe";
        return row;
    }
    row_plan plan{boards, broker.url(), [&](const std::vector<std::string>& names) {
                      auto all_seen = [&] {
                          for (const auto& name : names)
                              for (int r = 1; r <= relay::relay_count; ++r)
                                  if (!watcher.last("relay-panel/" + name + "/relay/" + std::to_string(r)))
                                      return false;
                          return true;
                      };
                      const auto until = clock_type::now() + start_deadline;
                      while (!all_seen() && clock_type::now() < until)
                          std::this_thread::sleep_for(100ms);
                      return all_seen() ? std::string() : std::string("not every board's state reached the broker");
                  }};
    return measure(plan, window, dir);
}
#endif

std::string missed_goals(const scale_row& row, const scale_row* sixteen)
{
    std::vector<std::string> missed;
    if (row.boards == 256 && row.core_percent() >= most_core_percent_at_256)
        missed.push_back("CPU");
    if (row.ratio_to_loop() > most_ratio_to_loop)
        missed.push_back("ratio");
    if (row.boards == 256 && sixteen && row.per_board_tick_s() > most_growth_from_16 * sixteen->per_board_tick_s())
        missed.push_back("flat");
    if (row.least_per_minute < least_per_minute || row.most_per_minute > most_per_minute)
        missed.push_back("frames");
    if ((row.boards == 1 && row.peak_rss_mb >= most_rss_mb_at_1) ||
        (row.boards == 256 && row.peak_rss_mb >= most_rss_mb_at_256))
        missed.push_back("RSS");
    if (missed.empty())
        return "met";
    std::string text = "missed:";
    for (const auto& m : missed)
        text += " " + m;
    return text;
}

void print_table(const std::vector<scale_row>& rows, std::chrono::seconds window)
{
    const scale_row* sixteen = nullptr;
    for (const auto& r : rows)
        if (r.boards == 16 && !r.mqtt && r.failure.empty())
            sixteen = &r;

    std::printf("\nrelayd at scale, %lld s windows:\n\n", static_cast<long long>(window.count()));
    std::printf("| boards | relayd CPU (%% of a core) | CPU per board per tick (us) | bare loop per tick (us) | ratio "
                "to loop | frames/board/min, least | most | RSS at end (MB) | peak RSS (MB) | goals |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| goal | < %.0f at 256 | at 256 <= %.1f x at 16 | | <= %.1f | >= %.0f | <= %.0f | | < %.0f at 1, < "
                "%.0f at 256 | |\n",
                most_core_percent_at_256, most_growth_from_16, most_ratio_to_loop, least_per_minute, most_per_minute,
                most_rss_mb_at_1, most_rss_mb_at_256);
    for (const auto& r : rows) {
        if (!r.failure.empty()) {
            std::printf("| %s | not measured: %s | | | | | | | | |\n", r.label().c_str(), r.failure.c_str());
            continue;
        }
        std::printf("| %s | %.2f | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f | %s |\n", r.label().c_str(),
                    r.core_percent(), r.per_board_tick_s() * 1e6, r.loop_per_tick_s * 1e6, r.ratio_to_loop(),
                    r.least_per_minute, r.most_per_minute, r.rss_mb, r.peak_rss_mb, missed_goals(r, sixteen).c_str());
    }

    const scale_row* largest = nullptr;
    for (const auto& r : rows)
        if (!r.mqtt && r.failure.empty() && r.boards > 16 && (!largest || r.boards > largest->boards))
            largest = &r;
    if (sixteen && largest && sixteen->per_board_tick_s() > 0)
        std::printf("\nCPU per board per tick, %d boards against 16: %.2f x (goal <= %.1f at 256)\n", largest->boards,
                    largest->per_board_tick_s() / sixteen->per_board_tick_s(), most_growth_from_16);
}

}  // namespace

bool run_scale_table(const scale_plan& plan, const std::string& dir)
{
    raise_open_file_limit();
    std::printf("relayd at scale: each board on its own pseudo-terminal in relay-board-farm\n");
    std::fflush(stdout);
    std::vector<scale_row> rows;
    for (const int boards : plan.board_counts)
        rows.push_back(measure({boards, {}, {}}, plan.window, dir));
    if (plan.mqtt_boards > 0) {
#ifdef RELAYD_BENCH_MQTT
        rows.push_back(measure_on_mqtt(plan.mqtt_boards, plan.window, dir));
#else
        std::printf("  the MQTT row is left out: this build has no test broker\n");
#endif
    }
    print_table(rows, plan.window);
    return std::all_of(rows.begin(), rows.end(), [](const scale_row& r) { return r.failure.empty(); });
}

}  // namespace relay::bench
