#include "bench/timed_bench.h"

#include "bench/relayd_child.h"
#include "bench/stats.h"
#include "core/timing.h"
#include "protocol/frame.h"
#include "sim/pty_board.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay::bench {
namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

// One control socket connection, a line at a time.
class line_client {
public:
    explicit line_client(const std::string& path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~line_client()
    {
        if (fd >= 0)
            ::close(fd);
    }
    line_client(const line_client&) = delete;
    line_client& operator=(const line_client&) = delete;

    bool ok() const { return fd >= 0; }
    // The reply line, or nothing by the deadline.
    std::optional<std::string> ask(const std::string& line, std::chrono::milliseconds deadline)
    {
        const auto text = line + "\n";
        if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
            return std::nullopt;
        const auto until = clock_type::now() + deadline;
        while (true) {
            const auto end = buffer.find('\n');
            if (end != std::string::npos) {
                auto reply = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                return reply;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clock_type::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1)
                return std::nullopt;
            char chunk[512];
            const auto n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return std::nullopt;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd = -1;
    std::string buffer;
};

bool wait_for_file(const std::string& path, std::chrono::milliseconds deadline)
{
    const auto until = clock_type::now() + deadline;
    while (::access(path.c_str(), F_OK) != 0) {
        if (clock_type::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct set_frame {
    command_tuple command;
    clock_type::time_point arrival;
};

std::vector<set_frame> set_frames(const pty_board& board, std::size_t from)
{
    std::vector<set_frame> frames;
    const auto all = board.received_frames();
    for (std::size_t i = from; i < all.size(); ++i) {
        std::uint8_t address = 0;
        command_tuple command;
        if (decode_command(all[i].bytes, address, command) && command.code == code_set_relays)
            frames.push_back({command, all[i].arrival});
    }
    return frames;
}

double ms_between(clock_type::time_point a, clock_type::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void print_row(const char* what, const summary& s, const char* goal)
{
    std::printf("| %-38s | %5zu | %8.1f | %8.1f | %8.1f | %8.1f | %-22s |\n", what, s.count, s.median, s.p1, s.p99,
                s.max, goal);
}

std::string write_config(const std::string& path, const std::vector<std::unique_ptr<pty_board>>& boards,
                         const std::string& dir, const std::string& extra)
{
    std::string text;
    for (std::size_t i = 0; i < boards.size(); ++i)
        text += "[board b" + std::to_string(i + 1) + "]\nport = " + boards[i]->slave_path() + "\naddress = " +
                std::to_string(i + 1) + "\nsocket = " + dir + "/timed-b" + std::to_string(i + 1) + ".sock\n" + extra;
    std::ofstream(path) << text;
    return path;
}

// Each pulse's width at the board less the duration asked, in ms.
std::optional<summary> pulse_widths(const std::string& dir, int pulses, std::chrono::milliseconds duration)
{
    std::vector<std::unique_ptr<pty_board>> boards;
    boards.push_back(std::make_unique<pty_board>(1));
    relayd_child relayd({"--config", write_config(dir + "/timed-pulse.conf", boards, dir, "")},
                        dir + "/timed-pulse.log");
    const auto sock = dir + "/timed-b1.sock";
    if (!wait_for_file(sock, 5s) || !boards[0]->wait_for_frame_count(5, 5s))
        return std::nullopt;
    line_client client(sock);
    std::vector<double> over;
    for (int i = 0; i < pulses && client.ok(); ++i) {
        const auto from = boards[0]->received_frames().size();
        const auto reply = client.ask(R"({"cmd":"pulse","relay":2,"ms":)" + std::to_string(duration.count()) + "}",
                                      duration + 5s);
        if (!reply || reply->find("\"ok\":true") == std::string::npos)
            continue;
        const auto frames = set_frames(*boards[0], from);
        if (frames.size() == 2)
            over.push_back(ms_between(frames[0].arrival, frames[1].arrival) - double(duration.count()));
    }
    return summarise(over);
}

// From the frame that switches relay 3 off to the one that switches relay 1
// on, with relays 1 and 3 interlocked: nothing when the file cannot say so.
std::optional<summary> interlock_delays(const std::string& dir, int rounds)
{
    std::vector<std::unique_ptr<pty_board>> boards;
    boards.push_back(std::make_unique<pty_board>(1));
    relayd_child relayd({"--config", write_config(dir + "/timed-interlock.conf", boards, dir, "interlock = 1 3\n")},
                        dir + "/timed-interlock.log");
    const auto sock = dir + "/timed-b1.sock";
    if (!wait_for_file(sock, 3s))
        return std::nullopt;
    line_client client(sock);
    std::vector<double> delays;
    for (int i = 0; i < rounds && client.ok(); ++i) {
        if (!client.ask(R"({"cmd":"on","relay":3})", 5s))
            break;
        const auto from = boards[0]->received_frames().size();
        const auto reply = client.ask(R"({"cmd":"on","relay":1})", 5s);
        const auto frames = set_frames(*boards[0], from);
        if (reply && frames.size() == 2)
            delays.push_back(ms_between(frames[0].arrival, frames[1].arrival));
    }
    return summarise(delays);
}

struct cpu_figures {
    double without = 0;  // CPU ms per tick
    double with = 0;
};

// relayd's CPU per tick over a window on 32 boards, then again with a
// day-long pulse pending on every board.
std::optional<cpu_figures> cpu_with_pending(const std::string& dir, std::chrono::seconds window)
{
    constexpr int count = 32;
    std::vector<std::unique_ptr<pty_board>> boards;
    for (int i = 0; i < count; ++i)
        boards.push_back(std::make_unique<pty_board>(static_cast<std::uint8_t>(i + 1)));
    relayd_child relayd({"--config", write_config(dir + "/timed-cpu.conf", boards, dir, "")}, dir + "/timed-cpu.log");
    for (int i = 0; i < count; ++i)
        if (!wait_for_file(dir + "/timed-b" + std::to_string(i + 1) + ".sock", 10s) ||
            !boards[static_cast<std::size_t>(i)]->wait_for_frame_count(5, 10s))
            return std::nullopt;
    const auto per_tick = [&] {
        const auto frames0 = boards[0]->frame_count();
        const double cpu0 = relayd.cpu_seconds();
        std::this_thread::sleep_for(window);
        const auto ticks = boards[0]->frame_count() - frames0;
        return ticks == 0 ? 0.0 : (relayd.cpu_seconds() - cpu0) * 1000.0 / static_cast<double>(ticks);
    };
    cpu_figures out;
    out.without = per_tick();
    std::vector<std::unique_ptr<line_client>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<line_client>(dir + "/timed-b" + std::to_string(i + 1) + ".sock"));
        if (!clients.back()->ok())
            return std::nullopt;
        // Answered only at the end of the day: sent, not awaited.
        clients.back()->ask(R"({"cmd":"pulse","relay":1,"ms":86400000})", 0ms);
    }
    for (auto& board : boards) {
        const auto until = clock_type::now() + 5s;
        while (!board->relays()[0] && clock_type::now() < until)
            std::this_thread::sleep_for(10ms);
    }
    out.with = per_tick();
    return out;
}

}  // namespace

bool run_timed_table(const std::string& dir, bool quick)
{
    std::printf("\nTimed steps (each figure in ms)\n\n");
    std::printf("| %-38s | %5s | %8s | %8s | %8s | %8s | %-22s |\n", "measure", "n", "median", "p1", "p99", "max",
                "goal");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(40, '-').c_str(), std::string(7, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(24, '-').c_str());
    const auto widths = pulse_widths(dir, quick ? 10 : 50, 300ms);
    if (!widths) {
        std::fprintf(stderr, "relayd did not start; see %s/timed-pulse.log\n", dir.c_str());
        return false;
    }
    print_row("pulse 300 ms: width at the board - 300", *widths, "+0 to +100 (one tick)");
    if (const auto delays = interlock_delays(dir, quick ? 10 : 50))
        print_row("interlock: 3 off to 1 on at the board", *delays, "100 (one tick)");
    else
        std::printf("| %-38s | the configuration file of this relayd does not read interlock |\n",
                    "interlock: 3 off to 1 on at the board");
    if (const auto cpu = cpu_with_pending(dir, quick ? 5s : 20s))
        std::printf("\nrelayd CPU per tick, 32 boards: %.4f ms without pending steps, %.4f ms with one on each "
                    "(ratio %.2f; goal: no worse)\n",
                    cpu->without, cpu->with, cpu->without > 0 ? cpu->with / cpu->without : 0.0);
    else
        std::printf("\n32 boards did not all start; see %s/timed-cpu.log\n", dir.c_str());
    return true;
}

}  // namespace relay::bench
