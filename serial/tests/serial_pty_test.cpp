// The real serial devices and the link over a simulated board on a
// pseudo-terminal: what actually reaches the line, and what the link makes
// of what comes back. Every case runs on the window's Qt port and on
// relayd's termios port.

#include "loop/qt_io_loop.h"
#include "serial/qt_serial_device.h"
#include "serial/serial_link.h"
#include "serial/termios_device.h"
#include "sim/pty_board.h"
#include "process_cpu.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace relay {
namespace {

using testing::process_cpu_seconds;

using namespace std::chrono_literals;

constexpr int deadline_ms = 3000;

class listed_ports : public port_catalog {
public:
    std::vector<port_entry> list;
    std::vector<port_entry> ports() const override { return list; }
};

class recorder : public serial_link::events {
public:
    std::vector<frame> frames;
    std::vector<std::string> losses;

    void status_frame_received(const frame& rx) override { frames.push_back(rx); }
    void link_lost(const std::string& reason) override { losses.push_back(reason); }
};

frame expected_status(std::uint8_t address, std::uint8_t code, std::array<std::uint8_t, relay_count> statuses)
{
    return encode_status(address, code, statuses);
}

const std::array<std::uint8_t, relay_count> all_off{status_off, status_off, status_off, status_off};

}  // namespace

class serial_pty_test : public QObject {
    Q_OBJECT

private:
    qt_io_loop loop;
    std::unique_ptr<pty_board> board;
    std::unique_ptr<serial_device> device;
    std::unique_ptr<serial_link> link;
    listed_ports catalog;
    recorder heard;
    std::uint8_t address = 1;

    void open_board()
    {
        const auto result = link->open_port(board->slave_path());
        QVERIFY2(result.ok, result.reason.c_str());
    }

    void send_query() { QCOMPARE(link->send_frame(address, status_query), send_result::sent); }

    bool termios_row = false;
    bool on_termios() const { return termios_row; }

    std::unique_ptr<serial_device> make_device(bool termios)
    {
        if (termios)
            return std::make_unique<termios_device>(loop);
        return std::make_unique<qt_serial_device>();
    }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("termios");
        QTest::newRow("qt") << false;
        QTest::newRow("termios") << true;
    }

    void init()
    {
        QFETCH_GLOBAL(bool, termios);
        termios_row = termios;
        board = std::make_unique<pty_board>();
        device = make_device(on_termios());
        catalog.list = {{board->slave_path(), "simulated board"}};
        link = std::make_unique<serial_link>(*device, catalog);
        heard = {};
        address = 1;
        link->set_events(&heard);
    }

    void cleanup()
    {
        link.reset();
        device.reset();
        board.reset();
    }

    void opens_by_device_path()
    {
        open_board();
        QVERIFY(link->port_is_open());
        QCOMPARE(link->port().path, board->slave_path());
        send_query();
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);
        QCOMPARE(heard.frames[0], expected_status(1, code_status_query, all_off));
    }

    void opens_by_number()
    {
        const auto result = link->open_port("1");
        QVERIFY2(result.ok, result.reason.c_str());
        QCOMPARE(link->port().path, board->slave_path());
    }

    void line_is_9600_8n1_without_flow_control()
    {
        // Leave the line set up some other way first, so that only the
        // device's own settings can make the checks below pass.
        {
            const int fd = ::open(board->slave_path().c_str(), O_RDWR | O_NOCTTY);
            QVERIFY(fd >= 0);
            termios odd{};
            QCOMPARE(::tcgetattr(fd, &odd), 0);
            ::cfsetispeed(&odd, B19200);
            ::cfsetospeed(&odd, B19200);
            odd.c_cflag = (odd.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
            odd.c_iflag |= IXON | IXOFF;
            QCOMPARE(::tcsetattr(fd, TCSANOW, &odd), 0);
            ::close(fd);
        }
        open_board();
        const auto settings = board->slave_settings();
        QVERIFY(settings.has_value());
        QCOMPARE(::cfgetispeed(&*settings), speed_t{B9600});
        QCOMPARE(::cfgetospeed(&*settings), speed_t{B9600});
        QCOMPARE(settings->c_cflag & CSIZE, tcflag_t{CS8});
        QCOMPARE(settings->c_cflag & PARENB, tcflag_t{0});
        QCOMPARE(settings->c_cflag & CSTOPB, tcflag_t{0});
        QCOMPARE(settings->c_cflag & CRTSCTS, tcflag_t{0});
        QCOMPARE(settings->c_iflag & (IXON | IXOFF | IXANY), tcflag_t{0});
        // Bytes must pass untouched: no line editing, echo or translation.
        QCOMPARE(settings->c_lflag & (ICANON | ECHO | ISIG), tcflag_t{0});
        QCOMPARE(settings->c_oflag & OPOST, tcflag_t{0});
        QCOMPARE(settings->c_iflag & (ICRNL | INLCR | ISTRIP), tcflag_t{0});
    }

    void send_frame_puts_exactly_the_encoded_bytes_on_the_line()
    {
        open_board();
        QCOMPARE(link->send_frame(address, command_tuple{1, {0, 2, 0, 0}}), send_result::sent);
        // The answer coming back means the board has read all we sent.
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);
        QCOMPARE(board->raw_bytes_received(), std::size_t{8});
        const auto log = board->received_frames();
        QCOMPARE(log.size(), std::size_t{1});
        const frame relay_2_on{0x55, 0x01, 0x01, 0x00, 0x02, 0x00, 0x00, 0x59};
        QCOMPARE(log[0].bytes, relay_2_on);
        QCOMPARE(link->tx_frame(), relay_2_on);
    }

    // A frame goes straight to the descriptor only when Qt holds nothing of
    // an earlier one; otherwise it queues behind those bytes, so frames
    // reach the line in the order they were sent.
    void a_direct_write_never_overtakes_bytes_qt_still_holds()
    {
        if (on_termios())
            QSKIP("relayd's port has one way of writing");
        open_board();
        auto& qt_device = static_cast<qt_serial_device&>(*device);
        const command_tuple first{code_set_relays, {action_on, 0, 0, 0}};
        qt_device.set_write_path(qt_serial_device::write_path::qt);
        QCOMPARE(link->send_frame(address, first), send_result::sent);
        qt_device.set_write_path(qt_serial_device::write_path::direct);
        QCOMPARE(link->send_frame(address, status_query), send_result::sent);
        QTRY_COMPARE_WITH_TIMEOUT(board->frame_count(), std::size_t{2}, deadline_ms);
        const auto frames = board->received_frames();
        QCOMPARE(frames[0].bytes, encode_command(address, first));
        QCOMPARE(frames[1].bytes, encode_command(address, status_query));
    }

    void input_is_discarded_before_every_send()
    {
        open_board();
        // The start of a status frame, so that keeping it would shift the
        // answer and spoil it.
        board->inject({0x22, 0x01, 0x00});
        QTRY_COMPARE_WITH_TIMEOUT(device->bytes_waiting(), std::size_t{3}, deadline_ms);
        send_query();
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);
        QCOMPARE(heard.frames[0], expected_status(1, code_status_query, all_off));
        QVERIFY(is_valid_status(heard.frames[0]));
    }

    void answer_in_two_pieces_is_one_frame()
    {
        open_board();
        board->set_answer_shaper([](const frame& answer) {
            return std::vector<pty_board::chunk>{{{answer.begin(), answer.begin() + 5}, 0ms},
                                                 {{answer.begin() + 5, answer.end()}, 50ms}};
        });
        send_query();
        QTRY_COMPARE_WITH_TIMEOUT(device->bytes_waiting(), std::size_t{5}, deadline_ms);
        QVERIFY(heard.frames.empty());
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);
        QCOMPARE(heard.frames[0], expected_status(1, code_status_query, all_off));
        QCOMPARE(device->bytes_waiting(), std::size_t{0});
    }

    void ninth_byte_is_gone_after_the_next_send()
    {
        open_board();
        // A start byte as the ninth: if it survived, the next answer would
        // be read one byte late.
        board->set_answer_shaper([](const frame& answer) {
            std::vector<std::uint8_t> nine(answer.begin(), answer.end());
            nine.push_back(status_start_byte);
            return std::vector<pty_board::chunk>{{nine, 0ms}};
        });
        send_query();
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);
        QCOMPARE(heard.frames[0], expected_status(1, code_status_query, all_off));
        QTRY_COMPARE_WITH_TIMEOUT(device->bytes_waiting(), std::size_t{1}, deadline_ms);

        board->set_answer_shaper(nullptr);
        send_query();
        QCOMPARE(device->bytes_waiting(), std::size_t{0});
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{2}, deadline_ms);
        QCOMPARE(heard.frames[1], expected_status(1, code_status_query, all_off));
    }

    void high_bytes_reach_the_frame_unchanged()
    {
        open_board();
        frame odd{status_start_byte, 0xFF, 0x80, status_on, 0x81, 0xFE, status_off, 0};
        odd[7] = checksum(odd);
        board->set_answer_shaper([odd](const frame&) {
            return std::vector<pty_board::chunk>{{{odd.begin(), odd.end()}, 0ms}};
        });
        send_query();
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);
        QCOMPARE(heard.frames[0], odd);
        QVERIFY(is_valid_status(heard.frames[0]));
    }

    void changed_address_applies_to_the_next_frame_data()
    {
        QTest::addColumn<int>("byte");
        QTest::newRow("200") << 200;
        QTest::newRow("0") << 0;
        QTest::newRow("255") << 255;
        QTest::newRow("17") << 17;
    }

    void changed_address_applies_to_the_next_frame()
    {
        QFETCH(int, byte);
        open_board();
        send_query();
        QVERIFY(board->wait_for_frame_count(1, std::chrono::milliseconds{deadline_ms}));
        address = static_cast<std::uint8_t>(byte);
        send_query();
        QVERIFY(board->wait_for_frame_count(2, std::chrono::milliseconds{deadline_ms}));
        const auto log = board->received_frames();
        QCOMPARE(log[0].bytes[1], std::uint8_t{1});
        QCOMPARE(log[1].bytes, encode_command(byte, status_query));
    }

    void far_end_closing_is_reported_once_and_costs_nothing()
    {
        open_board();
        send_query();
        QTRY_COMPARE_WITH_TIMEOUT(heard.frames.size(), std::size_t{1}, deadline_ms);

        board->close_line();
        QTRY_COMPARE_WITH_TIMEOUT(heard.losses.size(), std::size_t{1}, deadline_ms);
        QVERIFY(!link->port_is_open());
        // Named as it was opened, with the device's own state as the cause.
        const auto expected = "The port " + board->slave_path() + " stopped working: the device went away.";
        QCOMPARE(heard.losses[0], expected);

        // Three seconds of the event loop with the dead line around: a port
        // left polling a hung-up terminal would burn a core here.
        QTimer window;
        window.setSingleShot(true);
        QSignalSpy window_over(&window, &QTimer::timeout);
        const double before = process_cpu_seconds();
        window.start(3000);
        QVERIFY(window_over.wait(10000));
        const double used = process_cpu_seconds() - before;
        qInfo("processor time in the 3 s after the far end closed: %.4f s", used);
        QVERIFY2(used < 0.1, qPrintable(QString("used %1 s").arg(used)));

        QCOMPARE(heard.losses.size(), std::size_t{1});
        QVERIFY(!link->port_is_open());
        QCOMPARE(link->send_frame(address, status_query), send_result::port_closed);
    }

    void missing_device_is_named_as_missing()
    {
        const std::string missing = board->slave_path() + "-missing";
        const auto result = link->open_port(missing);
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.find("does not exist") != std::string::npos, result.reason.c_str());
        QVERIFY(!link->port_is_open());
    }

    void port_held_by_another_program_is_named_as_in_use()
    {
        QSerialPort other(QString::fromStdString(board->slave_path()));
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
        const auto result = link->open_port(board->slave_path());
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.find("in use by another program") != std::string::npos, result.reason.c_str());
        QVERIFY(!link->port_is_open());
        other.close();
        const auto again = link->open_port(board->slave_path());
        QVERIFY2(again.ok, again.reason.c_str());
    }

    // The window and relayd on one machine: whichever opens a port first
    // keeps it, even for root, whom the exclusive open does not stop.
    void a_port_held_by_the_other_kind_of_port_is_refused()
    {
        const auto holder = make_device(!on_termios());
        const auto held = holder->open(board->slave_path());
        QVERIFY2(held.ok, held.reason.c_str());
        const auto result = link->open_port(board->slave_path());
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.find("in use by") != std::string::npos, result.reason.c_str());
        holder->close();
        const auto again = link->open_port(board->slave_path());
        QVERIFY2(again.ok, again.reason.c_str());
    }
};

}  // namespace relay

QTEST_GUILESS_MAIN(relay::serial_pty_test)
#include "serial_pty_test.moc"
