// The panel on a real pseudo-terminal when things go wrong: the board is
// unplugged and plugged in again, the port is missing, busy or forbidden,
// the line is noisy, the board falls silent for half a minute.

#include "panel/panel_controller.h"
#include "serial/qt_serial_device.h"
#include "live_board_rig.h"
#include "process_cpu.h"
#include "frame_bytes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <ctime>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relay {
namespace {

using testing::bytes_of;
using testing::process_cpu_seconds;

using namespace std::chrono_literals;

// Keeps the messages shown and every caption any indicator ever showed.
struct watching_view : panel_controller::view {
    explicit watching_view(const panel_controller* logic = nullptr) : logic(logic) {}
    void controls_changed() override
    {
        if (!logic)
            return;
        if (logic->port_lost() && !was_lost)
            ++losses;
        was_lost = logic->port_lost();
        for (const auto& indicator : logic->controls().Label6) {
            if (indicator.caption == caption_off)
                ++times_off_shown;
            if (indicator.caption == caption_state)
                ++times_state_shown;
        }
    }
    void show_message(const std::string&, const std::string& text) override { messages.push_back(text); }
    const panel_controller* logic;
    std::vector<std::string> messages;
    int times_off_shown = 0;
    int times_state_shown = 0;
    int losses = 0;
    bool was_lost = false;
};

// Stray bytes on the line at a steady rate, from a thread of their own so
// that the panel's event loop cannot slow them down.
class line_noise {
public:
    line_noise(pty_board& board, std::chrono::milliseconds every)
        : worker([this, &board, every] {
              std::unique_lock<std::mutex> hold(lock);
              while (!stopping) {
                  hold.unlock();
                  board.inject({0xA5});
                  hold.lock();
                  stop_asked.wait_for(hold, every, [this] { return stopping; });
              }
          })
    {
    }
    ~line_noise()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            stopping = true;
        }
        stop_asked.notify_all();
        worker.join();
    }

private:
    std::mutex lock;
    std::condition_variable stop_asked;
    bool stopping = false;
    std::thread worker;
};

std::chrono::milliseconds longest_gap(const std::vector<received_frame>& frames, pty_board::clock::time_point from)
{
    std::chrono::milliseconds longest{0};
    auto previous = from;
    for (const auto& f : frames) {
        if (f.arrival < from)
            continue;
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(f.arrival - previous));
        previous = f.arrival;
    }
    return longest;
}

bool all_indicators_read(const panel_controller& logic, const std::string& caption)
{
    for (const auto& indicator : logic.controls().Label6)
        if (indicator.caption != caption)
            return false;
    return true;
}

// The test binary doubles as the second program on the port.
const char* const hold_port_flag = "--hold-port";
const char* const try_open_flag = "--try-open";

class fault_test : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testing::live_board_rig> rig;
    // The window's logic presenting the session's board, as the panel runs it.
    std::unique_ptr<panel_controller> presenter;
    std::unique_ptr<watching_view> view;

    panel_controller& logic() { return *presenter; }
    pty_board& board() { return rig->board(); }

    // As the operator does: the port's text, then "connect".
    void connect_to(const std::string& port = {})
    {
        logic().set_chuankou_num_text(port.empty() ? rig->port() : port);
        logic().open_comm_Click();
    }
    void disconnect_panel()
    {
        if (logic().connected())
            logic().open_comm_Click();
    }

    // Connects by a symlink of the board's own, as udev's names for an
    // adapter: it follows a replug, and goes away with an unplug.
    void connect_through_link(const QTemporaryDir& dir)
    {
        const std::string link = (dir.path() + "/board").toStdString();
        board().set_link_path(link);
        connect_to(link);
    }

    void expect_refused(const std::string& reason_part)
    {
        QCOMPARE(logic().controls().open_comm.caption, std::string("connect"));
        QVERIFY(!rig->session().timer().is_active());
        QCOMPARE(view->messages.size(), std::size_t{1});
        QVERIFY2(view->messages[0].find(reason_part) != std::string::npos, view->messages[0].c_str());
    }

private slots:
    void init()
    {
        rig = std::make_unique<testing::live_board_rig>();
        presenter = std::make_unique<panel_controller>(rig->core());
        view = std::make_unique<watching_view>(presenter.get());
        presenter->add_view(view.get());
        presenter->Form_Load();
    }

    void cleanup()
    {
        presenter->remove_view(view.get());
        presenter.reset();
        rig.reset();
    }

    void unplug_while_connected_costs_no_cpu_and_shows_state()
    {
        // By a name of its own: once the device is gone, its /dev/pts number
        // may go to a pseudo-terminal of another test running alongside.
        QTemporaryDir dir;
        connect_through_link(dir);
        logic().openall_Click();
        QTRY_VERIFY_WITH_TIMEOUT(all_indicators_read(logic(), caption_on), 2000);

        QElapsedTimer clock;
        clock.start();
        const double cpu_before = process_cpu_seconds();
        board().close_line();
        QTRY_VERIFY_WITH_TIMEOUT(all_indicators_read(logic(), caption_state), 700);
        qInfo("indicators read \"state\" %lld ms after the unplug", static_cast<long long>(clock.elapsed()));
        QTest::qWait(static_cast<int>(3000 - clock.elapsed()));
        const double cpu = process_cpu_seconds() - cpu_before;
        qInfo("CPU time over the 3 s after the unplug: %.4f s", cpu);
        QVERIFY2(cpu < 0.1, qPrintable(QString("CPU %1 s").arg(cpu)));
        QVERIFY(logic().port_lost());
        QCOMPARE(logic().controls().open_comm.caption, std::string("disconnect"));
        QVERIFY(logic().controls().Label6[0].tooltip.find("Reopening") != std::string::npos);
    }

    void replug_resumes_polling_by_itself()
    {
        QTemporaryDir dir;
        connect_through_link(dir);
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= 2, 2000);

        board().close_line();
        QTRY_VERIFY_WITH_TIMEOUT(logic().port_lost(), 2000);
        QTest::qWait(1500);
        // Back as a new device under the same name, as a replugged adapter.
        board().reopen_line();
        const auto before = board().frame_count();
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() > before, 2000);
        qInfo("polling resumed %lld ms after the replug", static_cast<long long>(clock.elapsed()));
        QVERIFY(!logic().port_lost());
        logic().open_Click(3);
        QTRY_VERIFY_WITH_TIMEOUT(logic().controls().Label6[2].caption == caption_on, 2000);
    }

    // A read announced before the tick's discard finds nothing; after a
    // reopen that happens often under line noise, and it is no lost link.
    void noise_after_a_replug_never_drops_the_link()
    {
        QTemporaryDir dir;
        connect_through_link(dir);
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= 2, 2000);
        board().close_line();
        QTRY_VERIFY_WITH_TIMEOUT(logic().port_lost(), 2000);
        board().reopen_line();
        QTRY_VERIFY_WITH_TIMEOUT(!logic().port_lost(), 3000);
        logic().open_Click(2);
        QTRY_VERIFY_WITH_TIMEOUT(logic().controls().Label6[1].caption == caption_on, 2000);
        view->losses = 0;

        const auto from = pty_board::clock::now();
        const auto frames_before = board().frame_count();
        {
            line_noise noise(board(), 10ms);
            QTest::qWait(20000);
        }
        const auto gap = longest_gap(board().received_frames(), from);
        qInfo("20 s of noise after a replug: %zu frames, longest pause %lld ms, %d losses",
              board().frame_count() - frames_before, static_cast<long long>(gap.count()), view->losses);
        QCOMPARE(view->losses, 0);
        QVERIFY2(gap <= 500ms, qPrintable(QString("a pause of %1 ms").arg(gap.count())));
        QVERIFY(!logic().port_lost());
    }

    // A read notification that finds the port empty, as when the tick's
    // discard overtakes it. On a line set up as Qt sets it (VMIN 0, VTIME 0)
    // read() then returns 0 and leaves errno as an earlier call on the
    // thread left it; Qt takes the 0 for an error named by that errno, and
    // for EAGAIN it stops watching the port. relayd's thread is left with
    // EAGAIN whenever a flood of refused commands fills the wake-up socket
    // of its broker connection faster than that connection drains it. Here the notification is delivered with nothing
    // readable and errno at EAGAIN; the board's later answers must still be
    // read, at once, not after a silent port's reopening.
    void an_empty_read_never_stops_the_reading()
    {
        connect_to();
        logic().close_Click(2);
        QTRY_VERIFY_WITH_TIMEOUT(logic().controls().Label6[1].caption == caption_off, 2000);

        auto* port = rig->session().port_device().findChild<QSerialPort*>();
        QVERIFY(port);
        QSocketNotifier* reading = nullptr;
        for (auto* notifier : port->findChildren<QSocketNotifier*>())
            if (notifier->type() == QSocketNotifier::Read)
                reading = notifier;
        QVERIFY(reading);
        bool empty_read = false;
        const auto seen = connect(port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError)
                empty_read = true;
        });
        // An answer may come between the look and the read; then try again
        // in the quiet part of a later tick.
        for (int attempt = 0; attempt < 50 && !empty_read; ++attempt) {
            int readable = -1;
            QVERIFY(::ioctl(static_cast<int>(port->handle()), FIONREAD, &readable) == 0);
            if (readable == 0 && port->bytesAvailable() == 0) {
                QEvent activated(QEvent::SockAct);
                errno = EAGAIN;
                QCoreApplication::sendEvent(reading, &activated);
            } else {
                QTest::qWait(20);
            }
        }
        disconnect(seen);
        QVERIFY2(empty_read, "no read found the port empty");
        QVERIFY(!logic().port_lost());

        view->times_state_shown = 0;
        logic().open_Click(2);
        QTRY_VERIFY_WITH_TIMEOUT(logic().controls().Label6[1].caption == caption_on, 1000);
        const auto frames = board().frame_count();
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= frames + 15, 3000);
        QCOMPARE(view->times_state_shown, 0);
        QVERIFY(!logic().port_lost());
    }

    void disconnect_while_unplugged_stops_the_retries()
    {
        connect_to();
        board().close_line();
        QTRY_VERIFY_WITH_TIMEOUT(logic().port_lost(), 2000);
        disconnect_panel();
        QCOMPARE(logic().controls().open_comm.caption, std::string("connect"));
        QVERIFY(!rig->session().timer().is_active());
    }

    void a_missing_port_is_refused_with_its_reason()
    {
        connect_to("/dev/ttyUSB-no-such-adapter");
        expect_refused("does not exist");
    }

    void a_busy_port_is_refused_with_its_reason()
    {
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {QString::fromLatin1(hold_port_flag), QString::fromStdString(board().slave_path())});
        QVERIFY(holder.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine() || holder.state() == QProcess::NotRunning, 5000);
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
        connect_to();
        const auto holder_pid = holder.processId();
        holder.kill();
        holder.waitForFinished(5000);
        // The message names the holder as /proc knows it.
        const auto program = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
        expect_refused("in use by " + program + " (pid " + std::to_string(holder_pid) + ")");
    }

    void a_forbidden_port_says_to_join_dialout()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to drop to another user");
        const auto setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv is not installed");
        QVERIFY(::chmod(board().slave_path().c_str(), 0600) == 0);
        QProcess child;
        child.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                              QString::fromLatin1(try_open_flag), QString::fromStdString(board().slave_path())});
        QVERIFY(child.waitForFinished(10000));
        const auto said = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        if (child.exitCode() == 126 || child.exitCode() == 127 || said.isEmpty())
            QSKIP(qPrintable("the test binary cannot run as another user here: " +
                             QString::fromUtf8(child.readAllStandardError())));
        QVERIFY2(said.contains(QStringLiteral("dialout")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("permission")), qPrintable(said));
    }

    void noise_and_broken_answers_never_show_a_relay_wrongly()
    {
        connect_to();
        logic().openall_Click();
        QTRY_VERIFY_WITH_TIMEOUT(all_indicators_read(logic(), caption_on), 2000);
        view->times_off_shown = 0;

        // Every kind of broken answer claims all relays off; none is valid.
        int n = 0;
        board().set_answer_shaper([&n](const frame&) {
            auto claim = encode_status(1, 0, {1, 1, 1, 1});
            auto wrong_sum = claim;
            wrong_sum[7] ^= 0x10;
            auto wrong_start = claim;
            wrong_start[0] = 0x23;
            wrong_start[7] = checksum(wrong_start);
            std::vector<std::uint8_t> shifted{0x00};
            for (auto b : bytes_of(claim, 0, 7))
                shifted.push_back(b);
            switch (n++ % 5) {
            case 0: return std::vector<pty_board::chunk>{{bytes_of(wrong_sum), 0ms}};
            case 1: return std::vector<pty_board::chunk>{{bytes_of(wrong_start), 0ms}};
            case 2: return std::vector<pty_board::chunk>{{shifted, 0ms}, {{claim[7]}, 0ms}};
            case 3: return std::vector<pty_board::chunk>{{bytes_of(claim, 0, 5), 0ms}};
            default: return std::vector<pty_board::chunk>{{{0xFF, 0x80, 0x22, 0x55, 0x01, 0x7F, 0xA5}, 0ms}};
            }
        });
        QTest::qWait(2000);
        QCOMPARE(view->times_off_shown, 0);
        QVERIFY(all_indicators_read(logic(), caption_state));
        QVERIFY(logic().controls().Label6[0].tooltip.find("garbled") != std::string::npos);

        board().set_answer_shaper(nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(all_indicators_read(logic(), caption_on), 1000);
    }

    // Half a minute of silence: long enough for any drift or build-up to
    // show in the frame count, which must stay within ten frames a second
    // to within 1.7 %.
    void a_board_silent_for_half_a_minute_comes_back()
    {
        connect_to();
        logic().close_Click(2);
        QTRY_VERIFY_WITH_TIMEOUT(logic().controls().Label6[1].caption == caption_off, 2000);

        board().set_silent(true);
        QTRY_VERIFY_WITH_TIMEOUT(all_indicators_read(logic(), caption_state), 700);
        const auto frames_before = board().frame_count();
        const double cpu_before = process_cpu_seconds();
        QTest::qWait(30000);
        const double cpu = process_cpu_seconds() - cpu_before;
        const auto polled = board().frame_count() - frames_before;
        qInfo("half a silent minute: %zu frames sent, %.3f s CPU", polled, cpu);
        QVERIFY2(polled >= 295 && polled <= 305, qPrintable(QString::number(polled)));
        QVERIFY(all_indicators_read(logic(), caption_state));

        board().set_silent(false);
        QTRY_VERIFY_WITH_TIMEOUT(logic().controls().Label6[1].caption == caption_off, 1000);
    }
};

// Opens the port and keeps it until killed, as another program would.
int hold_port(const char* path)
{
    QSerialPort port(QString::fromLocal8Bit(path));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("cannot open: %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// Prints why the panel's device could not open the port.
int try_open(const char* path)
{
    qt_serial_device device;
    const auto result = device.open(path);
    std::printf("%s\n", result.ok ? "opened" : result.reason.c_str());
    return 0;
}

}  // namespace
}  // namespace relay

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == relay::hold_port_flag) {
        QCoreApplication app(argc, argv);
        return relay::hold_port(argv[2]);
    }
    if (argc == 3 && std::string(argv[1]) == relay::try_open_flag) {
        QCoreApplication app(argc, argv);
        return relay::try_open(argv[2]);
    }
    QCoreApplication app(argc, argv);
    relay::fault_test test;
    return QTest::qExec(&test, argc, argv);
}

#include "fault_test.moc"
