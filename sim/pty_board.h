#pragma once
// A simulated relay board on a pseudo-terminal. The panel opens the slave
// side as it would a USB adapter; the board serves the master side from its
// own thread, answering each command frame after the time the frame takes on
// a 9600 baud line. Tests can silence it, shape its answers, put raw bytes on
// the line and pull the cable.

#include "sim/board_model.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>

namespace relay {

// Eight bytes of ten bits each at 9600 baud.
constexpr std::chrono::microseconds frame_wire_time{8 * 10 * 1000000 / 9600};

struct received_frame {
    frame bytes{};
    std::chrono::steady_clock::time_point arrival;
};

class pty_board {
public:
    using clock = std::chrono::steady_clock;

    // One piece of an answer, sent delay_before after the previous piece (or,
    // for the first, after the answer is due).
    struct chunk {
        std::vector<std::uint8_t> bytes;
        std::chrono::milliseconds delay_before{0};
    };
    using answer_shaper = std::function<std::vector<chunk>(const frame& answer)>;

    // The log keeps the most recent frames only, so a long run stays small.
    static constexpr std::size_t frame_log_limit = 10000;

    // Throws std::system_error when no pseudo-terminal can be had.
    explicit pty_board(std::optional<std::uint8_t> address = std::nullopt);
    ~pty_board();
    pty_board(const pty_board&) = delete;
    pty_board& operator=(const pty_board&) = delete;

    // The device the panel opens, e.g. /dev/pts/3.
    std::string slave_path() const;

    std::array<bool, relay_count> relays() const;
    std::vector<received_frame> received_frames() const;
    // Every valid command frame since start, including those the log forgot.
    std::size_t frame_count() const;
    std::size_t raw_bytes_received() const;
    // Waits until frame_count() reaches total; false on timeout.
    bool wait_for_frame_count(std::size_t total, std::chrono::milliseconds timeout) const;

    // A silent board still hears and obeys commands but answers nothing, as
    // when its transmit wire breaks.
    void set_silent(bool silent);
    // Puts bytes on the line before this returns, ahead of any answer still
    // to come.
    void inject(const std::vector<std::uint8_t>& bytes);
    // Called from the board's thread for each valid command frame, after
    // it is logged; the board's own calls are safe from inside it.
    void set_frame_observer(std::function<void(const received_frame&)> observer);
    // Null restores plain answers: the whole frame in one piece.
    void set_answer_shaper(answer_shaper shaper);

    // Pulls the cable: the panel's open port then fails as on an unplug, and
    // the link of set_link_path() goes away with the device.
    void close_line();
    // Plugs in again as a new device; slave_path() and the link change.
    void reopen_line();
    bool line_open() const;
    // The line settings of the slave side as whoever opened it left them;
    // std::nullopt while the line is closed.
    std::optional<termios> slave_settings() const;
    // Changes them, as another program on the port may (stty); false while
    // the line is closed or when the change is refused.
    bool set_slave_settings(const termios& settings);

    // A symlink at path to the current slave, kept up to date across
    // reopen_line() and removed with the board.
    void set_link_path(const std::string& path);

private:
    struct pending_output {
        clock::time_point due;
        std::uint64_t order = 0;
        std::vector<std::uint8_t> bytes;
    };

    void open_line();
    void close_line_locked();
    void update_link_locked();
    void remove_link_locked();
    void unlink_link_locked();
    void wake();
    void run();
    // False when the master failed for good rather than ran dry.
    bool take_input(clock::time_point arrival);
    void send_due(clock::time_point now);
    void write_line_locked(const std::vector<std::uint8_t>& bytes);

    mutable std::mutex lock;
    mutable std::condition_variable frames_changed;
    board_model model;
    int master_fd = -1;
    // The board's own hold on the slave side, see open_line().
    int slave_fd = -1;
    std::string link_path;
    bool silent = false;
    answer_shaper shaper;
    std::function<void(const received_frame&)> frame_observer;
    // What the accessors read, under the lock.
    std::string slave_path_;
    std::deque<received_frame> received_frames_;
    std::size_t frame_count_ = 0;
    std::size_t raw_bytes_received_ = 0;
    std::vector<pending_output> outbox;
    std::uint64_t next_order = 0;
    bool stopping = false;

    int wake_read = -1;
    int wake_write = -1;
    std::thread worker;
};

}  // namespace relay
