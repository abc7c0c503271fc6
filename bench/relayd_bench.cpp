// relayd measured as the system runs it: a child process polling simulated
// boards on pseudo-terminals, with a bare poll loop in plain C++ on a second
// pseudo-terminal in the same run as the yardstick for CPU per tick. With
// the test broker built in, also 32 boards in one relayd publishing through
// a real mosquitto on 127.0.0.1, commanded by a separate MQTT client. Last,
// relayd at scale: 1 to 256 boards (see bench/relayd_scale.h).
//
// Then the timed steps (see bench/timed_bench.h).
//
//   relayd-bench [--quick] [--scale-only] [--timed-only]

#include "bench/bare_poll_loop.h"
#include "bench/relayd_child.h"
#include "bench/relayd_scale.h"
#include "bench/stats.h"
#include "bench/timed_bench.h"
#include "protocol/frame.h"
#include "sim/pty_board.h"

#ifdef RELAYD_BENCH_MQTT
#include "mqtt/tests/test_broker.h"

#include <QCoreApplication>

#include <algorithm>
#include <condition_variable>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

using relay::pty_board;
using relay::bench::relayd_child;

double ms_between(clock_type::time_point a, clock_type::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Waits until path exists: relayd's socket is the sign it has started.
bool wait_for_file(const std::string& path, std::chrono::milliseconds deadline)
{
    const auto until = clock_type::now() + deadline;
    while (access(path.c_str(), F_OK) != 0) {
        if (clock_type::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

int connect_socket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void print_summary(const char* what, const relay::bench::summary& s, const char* goal)
{
    std::printf("| %-34s | %7zu | %8.2f | %8.2f | %8.2f | %8.2f | %-20s |\n", what, s.count, s.median, s.p1, s.p99,
                s.max, goal);
}

std::string scratch_dir()
{
    char name[] = "/tmp/relayd-bench-XXXXXX";
    return mkdtemp(name) ? name : "/tmp";
}

#ifdef RELAYD_BENCH_MQTT
struct mqtt_figures {
    bool ran = false;
    int changes = 0;
    int missed = 0;
    std::size_t state_messages = 0;
    double cpu = 0;
    double wall = 0;
    double rss = 0;
    relay::bench::summary latency;
};

// Thirty-two boards in one relayd, each its own connection to one broker;
// a client of our own publishes set commands to every board at once and
// times the state message each board's answer brings.
mqtt_figures many_boards_on_mqtt(const std::string& dir, int rounds)
{
    namespace rt = relay::mqtt::testing;
    mqtt_figures out;
    // relayd remembers its Home Assistant discovery messages in the state
    // folder: the run's own, not the user's.
    ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    rt::test_broker broker;
    std::string why;
    if (!broker.start(why)) {
        std::fprintf(stderr, "MQTT section skipped: %s\n", why.c_str());
        return out;
    }
    constexpr int count = 32;
    std::vector<std::unique_ptr<pty_board>> boards;
    std::vector<std::string> names;
    std::string config;
    for (int i = 0; i < count; ++i) {
        boards.push_back(std::make_unique<pty_board>(static_cast<std::uint8_t>(i + 1)));
        char name[8];
        std::snprintf(name, sizeof name, "b%02d", i + 1);
        names.emplace_back(name);
        config += "[board " + names.back() + "]\nport = " + boards.back()->slave_path() +
                  "\naddress = " + std::to_string(i + 1) + "\nsocket = " + dir + "/mqtt-" + names.back() + ".sock\n";
    }
    std::ofstream(dir + "/mqtt.conf") << config;

    // Every state message goes through here, stamped on the client's thread
    // as it arrives, so the main thread's polling adds nothing to latency.
    struct seen_message {
        std::string topic, payload;
        clock_type::time_point arrival;
    };
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<seen_message> seen;
    rt::test_client watcher(broker.port(), {"relay-panel/+/relay/+"});
    watcher.on_each([&](const rt::received_message& m) {
        {
            std::lock_guard<std::mutex> hold(lock);
            seen.push_back({m.topic, m.payload, m.arrival});
        }
        arrived.notify_all();
    });
    if (!rt::wait_until([&] { return watcher.ready(); })) {
        std::fprintf(stderr, "MQTT section skipped: the client did not subscribe\n");
        return out;
    }

    relayd_child relayd({"--config", dir + "/mqtt.conf", "--mqtt", broker.url()}, dir + "/mqtt.log");
    auto state_topic = [&](std::size_t board, int relay) {
        return "relay-panel/" + names[board] + "/relay/" + std::to_string(relay);
    };
    // Every relay of every board reported OFF before the first command, so
    // each command below is a change the boards must answer.
    auto all_off = [&] {
        std::vector<std::string> off;
        {
            std::lock_guard<std::mutex> hold(lock);
            for (const auto& m : seen)
                if (m.payload == "OFF")
                    off.push_back(m.topic);
        }
        std::sort(off.begin(), off.end());
        for (std::size_t b = 0; b < names.size(); ++b)
            for (int r = 1; r <= relay::relay_count; ++r)
                if (!std::binary_search(off.begin(), off.end(), state_topic(b, r)))
                    return false;
        return true;
    };
    const auto start_limit = clock_type::now() + 30s;
    while (!all_off() && clock_type::now() < start_limit)
        std::this_thread::sleep_for(20ms);
    if (!all_off()) {
        std::fprintf(stderr, "MQTT section skipped: not every board reported; see %s/mqtt.log\n", dir.c_str());
        return out;
    }
    out.ran = true;

    std::mt19937 random(11);
    std::uniform_int_distribution<int> pause_us(0, 100000);
    std::vector<double> latencies;
    const double cpu0 = relayd.cpu_seconds();
    const auto started = clock_type::now();
    for (int round = 0; round < rounds; ++round) {
        // A random point of relayd's tick for each round.
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)) + 20ms);
        const int relay = round % relay::relay_count + 1;
        const std::string want = (round / relay::relay_count) % 2 == 0 ? "ON" : "OFF";
        std::size_t from = 0;
        {
            std::lock_guard<std::mutex> hold(lock);
            from = seen.size();
        }
        const auto published = clock_type::now();
        for (const auto& name : names)
            watcher.publish("relay-panel/" + name + "/relay/" + std::to_string(relay) + "/set", want);
        out.changes += count;

        std::vector<bool> done(names.size(), false);
        std::size_t answered = 0;
        std::unique_lock<std::mutex> hold(lock);
        const auto until = published + 3s;
        while (answered < names.size()) {
            for (; from < seen.size(); ++from) {
                const auto& m = seen[from];
                for (std::size_t b = 0; b < names.size(); ++b)
                    if (!done[b] && m.payload == want && m.topic == state_topic(b, relay)) {
                        done[b] = true;
                        ++answered;
                        latencies.push_back(ms_between(published, m.arrival));
                    }
            }
            if (answered == names.size() || arrived.wait_until(hold, until) == std::cv_status::timeout)
                break;
        }
        out.missed += static_cast<int>(names.size() - answered);
    }
    out.wall = std::chrono::duration<double>(clock_type::now() - started).count();
    out.cpu = relayd.cpu_seconds() - cpu0;
    out.rss = relayd.peak_rss_mb();
    {
        // Counted after a last moment for stragglers, so a late state
        // message shows up as extra rather than lost.
        std::this_thread::sleep_for(300ms);
        std::lock_guard<std::mutex> hold(lock);
        for (const auto& m : seen)
            if (m.arrival >= started)
                ++out.state_messages;
    }
    out.latency = relay::bench::summarise(latencies);
    watcher.on_each(nullptr);
    relayd.stop();
    return out;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    bool scale_only = false;
    bool timed_only = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--scale-only") == 0) {
            scale_only = true;
        } else if (std::strcmp(argv[i], "--timed-only") == 0) {
            timed_only = true;
        } else {
            std::fprintf(stderr,
                         "relayd-bench: unknown option '%s'; usage: relayd-bench [--quick] [--scale-only] "
                         "[--timed-only]\n",
                         argv[i]);
            return 2;
        }
    }
#ifdef RELAYD_BENCH_MQTT
    // The broker and client helpers run on Qt's loop.
    QCoreApplication app(argc, argv);
#endif
    const std::chrono::seconds cpu_window = quick ? 10s : 60s;
    const std::chrono::seconds many_window = quick ? 10s : 60s;
    const int commands = quick ? 30 : 200;
    const std::string dir = scratch_dir();
    std::printf("relayd benchmark, %s run%s\n\n", quick ? "quick" : "full", scale_only ? ", scale table only" : "");

    // Last, or alone with --scale-only: relayd from 1 to 256 boards, and 64
    // on a broker.
    relay::bench::scale_plan scale;
    scale.board_counts = quick ? std::vector<int>{1, 16, 64} : std::vector<int>{1, 16, 64, 128, 256};
    scale.window = quick ? 5s : 10s;
    scale.mqtt_boards = 64;
    if (timed_only) {
        const bool measured = relay::bench::run_timed_table(dir, quick);
        std::printf("\nscratch files and relayd's logs: %s\n", dir.c_str());
        return measured ? 0 : 1;
    }
    if (scale_only) {
        const bool measured = relay::bench::run_scale_table(scale, dir);
        std::printf("\nscratch files and relayd's logs: %s\n", dir.c_str());
        return measured ? 0 : 1;
    }

    // 1. One board: CPU per tick against the bare loop, peak memory, and a
    //    client's command to the frame on the wire.
    double ratio = 0;
    double rss = 0;
    relay::bench::summary command_to_wire;
    {
        pty_board board(1);
        pty_board yardstick(1);
        const std::string sock = dir + "/one.sock";
        relayd_child relayd({"--port", board.slave_path(), "--socket", sock}, dir + "/one.log");
        if (!wait_for_file(sock, 5s) || !board.wait_for_frame_count(5, 5s)) {
            std::fprintf(stderr, "relayd did not start; see %s/one.log\n", dir.c_str());
            return 1;
        }
        relay::bench::bare_poll_loop loop;
        const auto frames0 = board.frame_count();
        const double cpu0 = relayd.cpu_seconds();
        std::thread floor([&] { loop.run(yardstick.slave_path(), cpu_window); });
        floor.join();
        const double relayd_cpu = relayd.cpu_seconds() - cpu0;
        const auto relayd_ticks = board.frame_count() - frames0;
        const double per_tick_relayd = relayd_cpu / static_cast<double>(relayd_ticks);
        const double per_tick_loop = loop.cpu_per_tick();
        ratio = per_tick_relayd / per_tick_loop;
        std::printf("CPU per tick over %lld s: relayd %.1f us (%zu ticks, %.3f s), bare loop %.1f us (%ld ticks, %ld "
                    "valid answers, %.3f s): ratio %.2f (goal <= 1.5)\n",
                    static_cast<long long>(cpu_window.count()), per_tick_relayd * 1e6, relayd_ticks, relayd_cpu,
                    per_tick_loop * 1e6, loop.ticks(), loop.valid_answers(), loop.cpu_seconds(), ratio);

        // Commands at random points of the tick; the board notes when each
        // set frame has arrived.
        std::mutex lock;
        std::vector<clock_type::time_point> set_frames;
        board.set_frame_observer([&](const relay::received_frame& f) {
            if (f.bytes[2] == relay::code_set_relays) {
                std::lock_guard<std::mutex> hold(lock);
                set_frames.push_back(f.arrival);
            }
        });
        const int client = connect_socket(sock);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pause_us(0, 100000);
        std::vector<double> latencies;
        for (int i = 0; i < commands && client >= 0; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)) + 110ms);
            const std::string line = std::string("{\"cmd\":\"") + (i % 2 ? "off" : "on") + "\",\"relay\":1}\n";
            std::size_t before = 0;
            {
                std::lock_guard<std::mutex> hold(lock);
                before = set_frames.size();
            }
            const auto sent = clock_type::now();
            if (write(client, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                break;
            const auto until = sent + 1s;
            while (clock_type::now() < until) {
                {
                    std::lock_guard<std::mutex> hold(lock);
                    if (set_frames.size() > before) {
                        latencies.push_back(ms_between(sent, set_frames[before]));
                        break;
                    }
                }
                std::this_thread::sleep_for(200us);
            }
            char drain[4096];
            while (recv(client, drain, sizeof drain, MSG_DONTWAIT) > 0) {
            }
        }
        if (client >= 0)
            close(client);
        board.set_frame_observer(nullptr);
        command_to_wire = relay::bench::summarise(latencies);
        rss = relayd.peak_rss_mb();
        std::printf("peak RSS of relayd with one board: %.1f MB (goal < 12 MB)\n", rss);
        std::printf("relayd exit status on SIGTERM: %d\n", relayd.stop());
    }

    // 2. A status frame to the watch event at a client: the board is silent
    //    and a frame with relay 1 flipped is put on the line right after
    //    each query, so that every answer changes what the client sees.
    relay::bench::summary frame_to_event;
    {
        pty_board board(1);
        const std::string sock = dir + "/watch.sock";
        relayd_child relayd({"--port", board.slave_path(), "--socket", sock}, dir + "/watch.log");
        wait_for_file(sock, 5s);
        board.set_silent(true);
        std::mutex lock;
        std::vector<clock_type::time_point> injected;
        bool on = false;
        board.set_frame_observer([&](const relay::received_frame&) {
            on = !on;
            const auto f = relay::encode_status(1, 0, {static_cast<std::uint8_t>(on ? 2 : 1), 1, 1, 1});
            std::lock_guard<std::mutex> hold(lock);
            injected.push_back(clock_type::now());
            board.inject({f.begin(), f.end()});
        });
        const int client = connect_socket(sock);
        const std::string watch = "{\"cmd\":\"watch\"}\n";
        std::vector<double> latencies;
        if (client >= 0 && write(client, watch.data(), watch.size()) == static_cast<ssize_t>(watch.size())) {
            std::string pending;
            std::size_t events = 0;
            const auto until = clock_type::now() + (quick ? 12s : 30s);
            while (events < static_cast<std::size_t>(quick ? 100 : 290) && clock_type::now() < until) {
                pollfd p{client, POLLIN, 0};
                if (poll(&p, 1, 500) != 1)
                    continue;
                char buffer[4096];
                const auto n = read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                const auto now = clock_type::now();
                pending.append(buffer, static_cast<std::size_t>(n));
                std::size_t end;
                while ((end = pending.find('\n')) != std::string::npos) {
                    const std::string line = pending.substr(0, end);
                    pending.erase(0, end + 1);
                    if (line.find("\"event\":\"state\"") == std::string::npos ||
                        line.find("\"link\":\"answering\"") == std::string::npos)
                        continue;
                    std::lock_guard<std::mutex> hold(lock);
                    // The first events follow the watch request, not a frame.
                    if (++events > 2 && !injected.empty())
                        latencies.push_back(ms_between(injected.back(), now));
                }
            }
            close(client);
        }
        board.set_frame_observer(nullptr);
        frame_to_event = relay::bench::summarise(latencies);
    }

    // 3. Thirty-two boards in one relayd.
    {
        constexpr int count = 32;
        std::vector<std::unique_ptr<pty_board>> boards;
        std::string config;
        for (int i = 0; i < count; ++i) {
            boards.push_back(std::make_unique<pty_board>(static_cast<std::uint8_t>(i + 1)));
            config += "[board b" + std::to_string(i + 1) + "]\nport = " + boards.back()->slave_path() +
                      "\naddress = " + std::to_string(i + 1) + "\nsocket = " + dir + "/b" + std::to_string(i + 1) +
                      ".sock\n";
        }
        std::ofstream(dir + "/many.conf") << config;
        relayd_child relayd({"--config", dir + "/many.conf"}, dir + "/many.log");
        wait_for_file(dir + "/b32.sock", 10s);
        for (auto& b : boards)
            b->wait_for_frame_count(3, 5s);
        std::vector<std::size_t> first;
        for (auto& b : boards)
            first.push_back(b->frame_count());
        const double cpu0 = relayd.cpu_seconds();
        std::this_thread::sleep_for(many_window);
        const double cpu = relayd.cpu_seconds() - cpu0;
        std::size_t least = SIZE_MAX, most = 0;
        for (int i = 0; i < count; ++i) {
            const auto n = boards[static_cast<std::size_t>(i)]->frame_count() - first[static_cast<std::size_t>(i)];
            least = std::min(least, n);
            most = std::max(most, n);
        }
        const double per_minute = 60.0 / static_cast<double>(many_window.count());
        std::printf("32 boards over %lld s: frames per board per minute %.0f to %.0f (goal 600 +-1); relayd CPU %.3f "
                    "s/min (%.2f %% of a core); peak RSS %.1f MB\n",
                    static_cast<long long>(many_window.count()), static_cast<double>(least) * per_minute,
                    static_cast<double>(most) * per_minute, cpu * per_minute,
                    100.0 * cpu / static_cast<double>(many_window.count()), relayd.peak_rss_mb());
    }

#ifdef RELAYD_BENCH_MQTT
    // 4. The same thirty-two boards' worth of work with relayd publishing
    //    them on a broker.
    mqtt_figures mqtt;
    {
        mqtt = many_boards_on_mqtt(dir, quick ? 4 : 40);
        if (mqtt.ran) {
            std::printf("32 boards in one relayd, one broker: %d state changes published, %d state messages seen in "
                        "time (%s), %zu state messages in all\n",
                        mqtt.changes, mqtt.changes - mqtt.missed,
                        mqtt.missed == 0 ? "every state change seen"
                                         : (std::to_string(mqtt.missed) + " missed").c_str(),
                        mqtt.state_messages);
            std::printf("relayd over the MQTT window: CPU %.3f s in %.1f s wall (%.2f %% of a core); peak RSS %.1f MB\n",
                        mqtt.cpu, mqtt.wall, 100.0 * mqtt.cpu / mqtt.wall, mqtt.rss);
        }
    }
#endif

    std::printf("\n| %-34s | samples |   median |       p1 |      p99 |      max | %-20s |\n", "measure (ms)", "goal");
    std::printf("|------------------------------------|---------|----------|----------|----------|----------|----------------------|\n");
    print_summary("socket command to frame on wire", command_to_wire, "<= 101 (tick + 1)");
    print_summary("status frame to watch event", frame_to_event, "p99 < 2");
#ifdef RELAYD_BENCH_MQTT
    if (mqtt.ran)
        print_summary("32 boards: MQTT publish to state", mqtt.latency, "one tick + answer");
#endif
    std::printf("\n");

    // 5. The web page: a click in headless chromium to the frame on the
    //    wire, the board's answer to the page's indicator, and relayd's CPU
    //    and memory with ten pages open; driven by selenium, so from python.
    const std::string web = std::string("/usr/bin/python3 ") + RELAYD_WEB_BENCH + " " + RELAYD_PATH + " " +
                            RELAY_BOARD_SIM_PATH + (quick ? " --quick" : "");
    std::fflush(stdout);
    if (std::system(web.c_str()) != 0)
        std::printf("web page: not measured (needs chromium, chromium-driver and python3-selenium)\n");
    std::printf("\n");

    // 6. The timed steps, then relayd at scale.
    const bool timed = relay::bench::run_timed_table(dir, quick);
    const bool measured = timed && relay::bench::run_scale_table(scale, dir);
    std::printf("\nscratch files and relayd's logs: %s\n", dir.c_str());
    return measured ? 0 : 1;
}
