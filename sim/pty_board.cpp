#include "sim/pty_board.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace relay {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void set_flags(int fd, int fd_flags, int status_flags)
{
    if (fd_flags != 0 && ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | fd_flags) != 0)
        fail("fcntl(F_SETFD)");
    if (status_flags != 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | status_flags) != 0)
        fail("fcntl(F_SETFL)");
}

void close_fd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A read that failed for good (EIO once nobody holds the slave) would make
// poll() report the master ready forever; look again only this often.
constexpr int dead_master_retry_ms = 100;

}  // namespace

pty_board::pty_board(std::optional<std::uint8_t> address) : model(address)
{
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        fail("pipe2");
    wake_read = pipe_fds[0];
    wake_write = pipe_fds[1];
    try {
        open_line();
    } catch (...) {
        close_fd(wake_read);
        close_fd(wake_write);
        throw;
    }
    worker = std::thread([this] { run(); });
}

pty_board::~pty_board()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake();
    worker.join();
    std::lock_guard<std::mutex> guard(lock);
    close_line_locked();
    remove_link_locked();
    close_fd(wake_read);
    close_fd(wake_write);
}

void pty_board::open_line()
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        fail("openpty");
    char name[PATH_MAX] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        ::close(slave);
        fail("ptsname_r");
    }
    // Raw from the start, so that a reader which does not set the line up
    // itself still sees the bytes unchanged.
    termios settings{};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B9600);
        ::cfsetospeed(&settings, B9600);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    set_flags(master, FD_CLOEXEC, O_NONBLOCK);
    set_flags(slave, FD_CLOEXEC, 0);
    master_fd = master;
    // Linux reports POLLHUP on the master, and fails its reads with EIO,
    // whenever no file is open on the slave: before the panel connects and
    // after it disconnects. Keeping this one slave descriptor open for the
    // life of the line keeps the master quiet, so the board thread can
    // sleep in poll() instead of spinning. The board never reads it, so
    // every byte it writes still reaches the panel, and openpty opened it
    // without making it our controlling terminal.
    slave_fd = slave;
    slave_path_ = name;
    model.reset_stream();
}

void pty_board::close_line_locked()
{
    close_fd(master_fd);
    close_fd(slave_fd);
    outbox.clear();
    model.reset_stream();
}

std::string pty_board::slave_path() const
{
    std::lock_guard<std::mutex> guard(lock);
    return slave_path_;
}

std::array<bool, relay_count> pty_board::relays() const
{
    std::lock_guard<std::mutex> guard(lock);
    return model.relays();
}

std::vector<received_frame> pty_board::received_frames() const
{
    std::lock_guard<std::mutex> guard(lock);
    return {received_frames_.begin(), received_frames_.end()};
}

std::size_t pty_board::frame_count() const
{
    std::lock_guard<std::mutex> guard(lock);
    return frame_count_;
}

std::size_t pty_board::raw_bytes_received() const
{
    std::lock_guard<std::mutex> guard(lock);
    return raw_bytes_received_;
}

bool pty_board::wait_for_frame_count(std::size_t total, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(lock);
    return frames_changed.wait_for(guard, timeout, [&] { return frame_count_ >= total; });
}

void pty_board::set_silent(bool quiet)
{
    std::lock_guard<std::mutex> guard(lock);
    silent = quiet;
}

void pty_board::inject(const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    write_line_locked(bytes);
}

void pty_board::set_frame_observer(std::function<void(const received_frame&)> observer)
{
    std::lock_guard<std::mutex> guard(lock);
    frame_observer = std::move(observer);
}

void pty_board::set_answer_shaper(answer_shaper s)
{
    std::lock_guard<std::mutex> guard(lock);
    shaper = std::move(s);
}

void pty_board::close_line()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        // An unplugged adapter's name goes with it, as udev removes its
        // links; reopen_line() puts it back.
        unlink_link_locked();
        close_line_locked();
    }
    wake();
}

void pty_board::reopen_line()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        close_line_locked();
        open_line();
        update_link_locked();
    }
    wake();
}

bool pty_board::line_open() const
{
    std::lock_guard<std::mutex> guard(lock);
    return master_fd >= 0;
}

std::optional<termios> pty_board::slave_settings() const
{
    std::lock_guard<std::mutex> guard(lock);
    termios settings{};
    if (slave_fd < 0 || ::tcgetattr(slave_fd, &settings) != 0)
        return std::nullopt;
    return settings;
}

bool pty_board::set_slave_settings(const termios& settings)
{
    std::lock_guard<std::mutex> guard(lock);
    return slave_fd >= 0 && ::tcsetattr(slave_fd, TCSANOW, &settings) == 0;
}

void pty_board::set_link_path(const std::string& path)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!link_path.empty() && link_path != path)
        remove_link_locked();
    link_path = path;
    update_link_locked();
}

void pty_board::update_link_locked()
{
    if (link_path.empty())
        return;
    // A new name first, then rename over the old one: whoever opens the
    // link meanwhile finds either the old device or the new one, never none.
    const std::string temporary = link_path + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(slave_path_.c_str(), temporary.c_str()) != 0)
        fail("symlink");
    if (::rename(temporary.c_str(), link_path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        fail("rename");
    }
}

void pty_board::unlink_link_locked()
{
    if (link_path.empty())
        return;
    // Another board may have taken the name over since; leave its link be.
    char target[PATH_MAX] = {};
    const auto length = ::readlink(link_path.c_str(), target, sizeof target - 1);
    if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == slave_path_)
        ::unlink(link_path.c_str());
}

void pty_board::remove_link_locked()
{
    unlink_link_locked();
    link_path.clear();
}

void pty_board::wake()
{
    const char byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] const auto ignored = ::write(wake_write, &byte, 1);
}

void pty_board::write_line_locked(const std::vector<std::uint8_t>& bytes)
{
    if (master_fd < 0 || bytes.empty())
        return;
    // The panel may not be reading; what does not fit is lost, as bytes on
    // a real line would be once the receiver's buffer overflows.
    [[maybe_unused]] const auto written = ::write(master_fd, bytes.data(), bytes.size());
}

void pty_board::run()
{
    bool master_dead = false;
    for (;;) {
        int timeout_ms = -1;
        pollfd fds[2] = {{wake_read, POLLIN, 0}, {-1, POLLIN, 0}};
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping)
                return;
            if (master_fd >= 0 && !master_dead)
                fds[1].fd = master_fd;
            if (!outbox.empty()) {
                const auto first = std::min_element(outbox.begin(), outbox.end(),
                                                    [](const auto& a, const auto& b) { return a.due < b.due; });
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(first->due - clock::now());
                timeout_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
            }
            if (master_dead)
                timeout_ms = timeout_ms < 0 ? dead_master_retry_ms : std::min(timeout_ms, dead_master_retry_ms);
        }
        // An error here can only be EINTR or a lack of memory; either way
        // the next turn simply polls again.
        const int ready = ::poll(fds, 2, timeout_ms);
        master_dead = false;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            char drain[64];
            while (::read(wake_read, drain, sizeof drain) > 0) {
            }
        }
        if (ready > 0 && fds[1].revents != 0)
            master_dead = !take_input(clock::now());
        send_due(clock::now());
    }
}

bool pty_board::take_input(clock::time_point arrival)
{
    std::vector<frame> answers;
    std::vector<received_frame> heard;
    answer_shaper shape;
    std::function<void(const received_frame&)> observe;
    bool alive = true;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (master_fd < 0)
            return true;
        std::uint8_t buffer[512];
        for (;;) {
            const auto got = ::read(master_fd, buffer, sizeof buffer);
            if (got <= 0) {
                alive = got < 0 && (errno == EAGAIN || errno == EINTR);
                break;
            }
            raw_bytes_received_ += static_cast<std::size_t>(got);
            for (auto& event : model.feed(buffer, static_cast<std::size_t>(got))) {
                received_frames_.push_back({event.command, arrival});
                if (received_frames_.size() > frame_log_limit)
                    received_frames_.pop_front();
                ++frame_count_;
                heard.push_back(received_frames_.back());
                if (event.answer && !silent)
                    answers.push_back(*event.answer);
            }
        }
        frames_changed.notify_all();
        shape = shaper;
        observe = frame_observer;
    }
    // The shaper and the observer are the caller's code; they run without
    // the lock so that they may ask the board about itself.
    if (observe) {
        for (const auto& f : heard)
            observe(f);
    }
    for (const auto& answer : answers) {
        std::vector<chunk> pieces;
        if (shape)
            pieces = shape(answer);
        else
            pieces.push_back({{answer.begin(), answer.end()}, std::chrono::milliseconds{0}});
        std::lock_guard<std::mutex> guard(lock);
        // The answer starts once the command has fully arrived and the same
        // eight bytes' time has passed again, as a board at 9600 baud needs.
        auto due = arrival + frame_wire_time;
        for (auto& piece : pieces) {
            due += piece.delay_before;
            outbox.push_back({due, next_order++, std::move(piece.bytes)});
        }
    }
    return alive;
}

void pty_board::send_due(clock::time_point now)
{
    std::lock_guard<std::mutex> guard(lock);
    std::stable_sort(outbox.begin(), outbox.end(), [](const auto& a, const auto& b) {
        return a.due < b.due || (a.due == b.due && a.order < b.order);
    });
    auto sent = outbox.begin();
    while (sent != outbox.end() && sent->due <= now) {
        write_line_locked(sent->bytes);
        ++sent;
    }
    outbox.erase(outbox.begin(), sent);
}

}  // namespace relay
