// The boards on the network, measured: a client's command to the frame on
// the wire, the board's answer to the state message at a subscriber, and 32
// boards, each on a connection of its own, through one broker. Prints
// figures; judges none.

#include "bench/stats.h"
#include "mqtt/tests/board_fixture.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace relay::mqtt::testing {
namespace {

using clock = std::chrono::steady_clock;

double ms(clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void print_row(const char* name, const std::vector<double>& samples, const char* goal)
{
    const auto s = bench::summarise(samples);
    std::printf("| %-38s | %7zu | %8.2f | %8.2f | %8.2f | %8.2f | %-22s |\n", name, s.count, s.median, s.p1, s.p99,
                s.max, goal);
}

double cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int one_board(int samples)
{
    board_rig rig;
    if (const auto failed = rig.start(); !failed.empty()) {
        std::fprintf(stderr, "%s\n", failed.c_str());
        return 1;
    }
    std::vector<double> to_wire, to_state;
    const auto state_topic = rig.topics.relay_state(1);
    for (int i = 0; i < samples; ++i) {
        const std::string want = i % 2 == 0 ? payload_on : payload_off;
        const auto seen = rig.watcher->messages_on(state_topic).size();
        const auto published = clock::now();
        rig.watcher->publish(rig.topics.relay_set(1), want);
        if (!wait_until([&] {
                return rig.watcher->messages_on(state_topic).size() > seen && rig.watcher->last(state_topic) == want;
            })) {
            std::fprintf(stderr, "no state for sample %d\n", i);
            return 1;
        }
        const auto state = rig.watcher->messages_on(state_topic).back();
        for (const auto& f : rig.board().received_frames()) {
            std::uint8_t a = 0;
            command_tuple c;
            if (f.arrival > published && decode_command(f.bytes, a, c) && c.code == code_set_relays) {
                to_wire.push_back(ms(f.arrival - published));
                // The board starts its answer one frame time after the
                // command has arrived (see pty_board.h).
                to_state.push_back(ms(state.arrival - (f.arrival + frame_wire_time)));
                break;
            }
        }
    }
    print_row("client publish to frame at the board", to_wire, "<= one tick + 2 = 102");
    print_row("board answer sent to state message", to_state, "p99 < 5");
    rig.stop();
    return 0;
}

int many_boards(int board_count, int rounds)
{
    test_broker broker;
    std::string why;
    if (!broker.start(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const auto cpu_before = cpu_seconds();
    const auto started_at = clock::now();
    std::vector<std::unique_ptr<relay::testing::live_board_rig>> boards;
    for (int i = 0; i < board_count; ++i) {
        boards.push_back(std::make_unique<relay::testing::live_board_rig>());
        boards.back()->connect();
    }
    test_client watcher(broker.port(), {"relay-panel/+/relay/+"});
    wait_until([&] { return watcher.ready(); });
    qt_io_loop loop;
    auto started = start_mqtt(loop, broker.url(), {{"client_id", "relayd-bench"}, {"discovery_prefix", "off"}},
                              [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (!started.bridge)
        return 1;
    std::vector<board_topics> topics;
    for (int i = 0; i < board_count; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "b%02d", i + 1);
        topics.emplace_back("relay-panel", started.bridge->add_board(boards[static_cast<std::size_t>(i)]->core(), name));
    }
    // Every board answering and every relay reported OFF first.
    if (!wait_until([&] {
            for (const auto& t : topics)
                for (int r = 1; r <= relay_count; ++r)
                    if (watcher.last(t.relay_state(r)) != std::string(payload_off))
                        return false;
            return true;
        }, std::chrono::milliseconds(20000))) {
        std::fprintf(stderr, "not every board reported\n");
        return 1;
    }
    watcher.clear();
    std::vector<double> latency;
    int changes = 0;
    for (int round = 0; round < rounds; ++round) {
        const int relay = round % relay_count + 1;
        const std::string want = (round / relay_count) % 2 == 0 ? payload_on : payload_off;
        const auto published = clock::now();
        for (const auto& t : topics)
            watcher.publish(t.relay_set(relay), want);
        changes += board_count;
        if (!wait_until([&] {
                for (const auto& t : topics)
                    if (watcher.last(t.relay_state(relay)) != want)
                        return false;
                return true;
            }, std::chrono::milliseconds(10000))) {
            std::fprintf(stderr, "round %d: not every state arrived\n", round);
            return 1;
        }
        for (const auto& t : topics)
            latency.push_back(ms(watcher.messages_on(t.relay_state(relay)).back().arrival - published));
    }
    const auto seen = watcher.messages().size();
    const auto wall = std::chrono::duration<double>(clock::now() - started_at).count();
    const auto cpu = cpu_seconds() - cpu_before;
    print_row("32 boards: publish to state message", latency, "one tick + answer");
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("\n%d boards, one MQTT client, one broker: %d state changes made, %zu state messages seen (%s)\n",
                board_count, changes, seen, static_cast<int>(seen) == changes ? "every one" : "MISMATCH");
    std::printf("CPU of the whole process (%d sessions, %d simulated boards, the bridge): %.2f s in %.1f s wall "
                "(%.1f %% of a core)\n",
                board_count, board_count, cpu, wall, 100.0 * cpu / wall);
    std::printf("peak memory (RSS): %.1f MB\n", static_cast<double>(u.ru_maxrss) / 1024.0);
    started.bridge.reset();
    return static_cast<int>(seen) == changes ? 0 : 1;
}

}  // namespace
}  // namespace relay::mqtt::testing

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    std::printf("relay-panel on MQTT%s\n\n", quick ? ", quick run" : "");
    std::printf("| %-38s | samples |   median |       p1 |      p99 |      max | goal                   |\n",
                "measure (ms)");
    std::printf("|----------------------------------------|---------|----------|----------|----------|----------|"
                "------------------------|\n");
    if (const auto rc = relay::mqtt::testing::one_board(quick ? 10 : 200); rc != 0)
        return rc;
    return relay::mqtt::testing::many_boards(32, quick ? 4 : 40);
}
