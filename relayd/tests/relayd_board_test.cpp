// relayd as the system runs it, a child process, against simulated boards
// on real pseudo-terminals: its polling, its log, its sockets, its signals
// and what it tells systemd.

#include "relayd_process.h"
#include "sim/pty_board.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace relay::relayd::testing {
namespace {

using clock = std::chrono::steady_clock;

QRegularExpression line(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption);
}

double seconds_since(clock::time_point start)
{
    return std::chrono::duration<double>(clock::now() - start).count();
}

// The datagram socket systemd would listen on for sd_notify.
class notify_listener {
public:
    explicit notify_listener(const QString& path) : file(path)
    {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const auto bytes = path.toUtf8();
        std::copy(bytes.begin(), bytes.end(), addr.sun_path);
        bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~notify_listener()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool ok() const { return bound; }

    // The next message, or an empty string at the deadline.
    QString next(std::chrono::milliseconds deadline)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(deadline.count())) != 1)
            return {};
        char buffer[4096];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? QString::fromUtf8(buffer, static_cast<int>(n)) : QString();
    }

private:
    QString file;
    int fd = -1;
    bool bound = false;
};

}  // namespace

class relayd_board_test : public QObject {
    Q_OBJECT

private slots:
    void polls_ten_frames_a_second();
    void two_boards_from_one_config_each_at_its_address();
    void a_port_missing_at_start_is_tried_every_second_until_it_appears();
    void unplug_and_replug_is_logged_and_polling_resumes();
    void a_silent_board_gets_its_port_reopened_said_once_per_silence();
    void sigterm_removes_the_socket_closes_the_port_and_exits_0_data();
    void sigterm_removes_the_socket_closes_the_port_and_exits_0();
    void a_socket_left_by_a_killed_relayd_is_replaced();
    void systemd_hears_ready_status_and_watchdog_pings();
};

void relayd_board_test::polls_ten_frames_a_second()
{
    pty_board board(1);
    QTemporaryDir dir;
    relayd_process relayd({"--port", QString::fromStdString(board.slave_path()), "--socket", dir.filePath("b.sock")});
    QVERIFY2(relayd.wait_for_log(line("^<6>relayd \\S+ started: 1 board \\(board\\)$")), qPrintable(relayd.log()));
    QVERIFY2(relayd.wait_for_log(line("^<6>board: port /dev/pts/\\d+ opened, polling board at address 1 every 100 ms$")),
             qPrintable(relayd.log()));
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(relayd.log()));

    // Thirty frames take three seconds at ten a second.
    const auto first = board.frame_count();
    const auto start = clock::now();
    QVERIFY(board.wait_for_frame_count(first + 30, 6000ms));
    const double took = seconds_since(start);
    QVERIFY2(took > 2.85 && took < 3.15, qPrintable(QString("30 frames took %1 s").arg(took)));
    for (const auto& f : board.received_frames())
        QCOMPARE(int(f.bytes[1]), 1);
}

void relayd_board_test::two_boards_from_one_config_each_at_its_address()
{
    pty_board cabinet(3);
    pty_board bench(200);
    QTemporaryDir dir;
    const QString config = dir.filePath("relayd.conf");
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QString("[mqtt]\nurl = mqtt://localhost:1883\n\n"
                       "[board cabinet]\nport = %1\naddress = 3\nsocket = %2\n\n"
                       "[board bench]\nport = %3\naddress = 200\nsocket = %4\n")
                   .arg(QString::fromStdString(cabinet.slave_path()), dir.filePath("cabinet.sock"),
                        QString::fromStdString(bench.slave_path()), dir.filePath("bench.sock"))
                   .toUtf8());
    file.close();

    relayd_process relayd({"--config", config});
    QVERIFY2(relayd.wait_for_log(line("^<6>relayd \\S+ started: 2 boards \\(cabinet, bench\\)$")),
             qPrintable(relayd.log()));
    // Each board answers only its own address, so "answering" proves it.
    QVERIFY2(relayd.wait_for_log(line("^<6>(cabinet|bench): board at address (3|200) answering$")),
             qPrintable(relayd.log()));
    QVERIFY2(relayd.wait_for_log(line("^<6>(cabinet|bench): board at address (3|200) answering$")),
             qPrintable(relayd.log()));
    QCOMPARE(relayd.count_log(line("^<6>cabinet: board at address 3 answering$")), 1);
    QCOMPARE(relayd.count_log(line("^<6>bench: board at address 200 answering$")), 1);

    // Each at its own ten frames a second.
    const auto cabinet_first = cabinet.frame_count();
    const auto bench_first = bench.frame_count();
    const auto start = clock::now();
    QVERIFY(cabinet.wait_for_frame_count(cabinet_first + 20, 4000ms));
    QVERIFY(bench.wait_for_frame_count(bench_first + 20, 4000ms));
    const double took = seconds_since(start);
    QVERIFY2(took > 1.85 && took < 2.2, qPrintable(QString("20 frames on each took %1 s").arg(took)));
    for (const auto& f : cabinet.received_frames())
        QCOMPARE(int(f.bytes[1]), 3);
    for (const auto& f : bench.received_frames())
        QCOMPARE(int(f.bytes[1]), 200);
}

void relayd_board_test::a_port_missing_at_start_is_tried_every_second_until_it_appears()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyRELAY");
    relayd_process relayd({"--port", link, "--socket", dir.filePath("b.sock")});
    QVERIFY2(relayd.wait_for_log(line("^<3>board: cannot open port '" + QRegularExpression::escape(link) +
                                      "': .*; trying again every second$")),
             qPrintable(relayd.log()));
    // Tried every second but said once while the reason stays the same.
    QVERIFY2(!relayd.wait_for_log(line("cannot be opened|cannot open"), 2500ms), qPrintable(relayd.log()));

    // Something that is no serial port: a new reason, said once.
    QFile plain(dir.filePath("plain-file"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(QFile::link(plain.fileName(), link));
    QVERIFY2(relayd.wait_for_log(line("^<4>board: port '.*' still cannot be opened, now: .*$"), 2500ms),
             qPrintable(relayd.log()));
    QVERIFY(QFile::remove(link));

    pty_board board(1);
    board.set_link_path(link.toStdString());
    const auto plugged = clock::now();
    QVERIFY2(relayd.wait_for_log(line("^<6>board: port .* opened, polling"), 2500ms), qPrintable(relayd.log()));
    const double took = seconds_since(plugged);
    QVERIFY2(took < 1.3, qPrintable(QString("opened %1 s after the port appeared").arg(took)));
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering")), qPrintable(relayd.log()));
    QVERIFY(board.frame_count() > 0);
}

void relayd_board_test::unplug_and_replug_is_logged_and_polling_resumes()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyRELAY");
    pty_board board(1);
    board.set_link_path(link.toStdString());
    relayd_process relayd({"--port", link, "--socket", dir.filePath("b.sock")});
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(relayd.log()));

    board.close_line();
    QVERIFY2(relayd.wait_for_log(line("^<3>board: port .* lost \\(.+\\); reopening it every second$")),
             qPrintable(relayd.log()));
    board.reopen_line();
    QVERIFY2(relayd.wait_for_log(line("^<6>board: port .* reopened, polling board at address 1 every 100 ms$"), 2500ms),
             qPrintable(relayd.log()));
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering again$")), qPrintable(relayd.log()));
    const auto after = board.frame_count();
    QVERIFY(board.wait_for_frame_count(after + 5, 2000ms));
}

// A board silent for 5 s while its port looks healthy gets the port closed
// and opened again. Meanwhile another program slows the line down, which
// only a reopening sets right: the line's speed shows that the port really
// was opened afresh.
void relayd_board_test::a_silent_board_gets_its_port_reopened_said_once_per_silence()
{
    pty_board board(1);
    QTemporaryDir dir;
    const QString port = QString::fromStdString(board.slave_path());
    relayd_process relayd({"--port", port, "--socket", dir.filePath("b.sock")});
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(relayd.log()));
    const auto reopened = line("^<4>board: board at address 1 silent for 5000 ms; port " +
                               QRegularExpression::escape(port) +
                               " closed and reopened, again every 30 s while the silence lasts$");

    const auto line_speed = [&board] {
        const auto settings = board.slave_settings();
        return settings ? ::cfgetospeed(&*settings) : speed_t{0};
    };

    for (int silence = 1; silence <= 2; ++silence) {
        auto settings = board.slave_settings();
        QVERIFY(settings);
        ::cfsetispeed(&*settings, B4800);
        ::cfsetospeed(&*settings, B4800);
        QVERIFY(board.set_slave_settings(*settings));
        board.set_silent(true);
        const auto silent_from = clock::now();
        QVERIFY2(relayd.wait_for_log(line("^<4>board: board at address 1 silent: no valid status frame for 600 ms$")),
                 qPrintable(relayd.log()));
        QCOMPARE(line_speed(), speed_t{B4800});
        QVERIFY2(relayd.wait_for_log(reopened, 8000ms), qPrintable(relayd.log()));
        const double took = seconds_since(silent_from);
        QVERIFY2(took > 4.5, qPrintable(QString("reopened %1 s into the silence").arg(took)));
        QCOMPARE(line_speed(), speed_t{B9600});

        board.set_silent(false);
        QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering again$")), qPrintable(relayd.log()));
    }
    QCOMPARE(relayd.count_log(reopened), 2);
    // Reopened, never lost: the link went only between silent and answering.
    QVERIFY2(!relayd.log().contains(" lost ("), qPrintable(relayd.log()));
    const auto after = board.frame_count();
    QVERIFY(board.wait_for_frame_count(after + 5, 2000ms));
}

void relayd_board_test::sigterm_removes_the_socket_closes_the_port_and_exits_0_data()
{
    QTest::addColumn<bool>("interrupt");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("SIGINT") << true;
}

void relayd_board_test::sigterm_removes_the_socket_closes_the_port_and_exits_0()
{
    QFETCH(bool, interrupt);
    pty_board board(1);
    QTemporaryDir dir;
    const QString socket = dir.filePath("b.sock");
    relayd_process relayd({"--port", QString::fromStdString(board.slave_path()), "--socket", socket});
    QVERIFY2(relayd.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(relayd.log()));
    QVERIFY(relayd.log().contains("<6>board: socket listening at " + socket + "\n"));
    QVERIFY(QFile::exists(socket));

    if (interrupt)
        relayd.interrupt();
    else
        relayd.terminate();
    QVERIFY(relayd.wait_for_exit());
    QVERIFY(relayd.exited_normally());
    QCOMPARE(relayd.exit_code(), 0);
    QVERIFY2(relayd.log().contains(QString("<6>stopping on %1\n<6>stopped\n").arg(interrupt ? "SIGINT" : "SIGTERM")),
             qPrintable(relayd.log()));
    // The port was closed by "disconnect", which logs no loss.
    QVERIFY2(!relayd.log().contains(" lost ("), qPrintable(relayd.log()));
    QVERIFY(!QFile::exists(socket));
    // Nothing polls the board any more.
    const auto after = board.frame_count();
    QVERIFY(!board.wait_for_frame_count(after + 1, 300ms));
}

void relayd_board_test::a_socket_left_by_a_killed_relayd_is_replaced()
{
    pty_board board(1);
    QTemporaryDir dir;
    const QString socket = dir.filePath("b.sock");
    const QStringList args{"--port", QString::fromStdString(board.slave_path()), "--socket", socket};
    {
        relayd_process killed(args);
        QVERIFY2(killed.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(killed.log()));
        killed.kill();
        QVERIFY(killed.wait_for_exit());
    }
    QVERIFY2(QFile::exists(socket), "SIGKILL leaves the socket file behind");

    relayd_process next(args);
    QVERIFY2(next.wait_for_log(line("^<6>board: socket listening at " + QRegularExpression::escape(socket) + "$")),
             qPrintable(next.log()));
    QVERIFY2(next.wait_for_log(line("^<6>board: board at address 1 answering$")), qPrintable(next.log()));
    next.terminate();
    QVERIFY(next.wait_for_exit());
    QCOMPARE(next.exit_code(), 0);
    QVERIFY(!QFile::exists(socket));
}

void relayd_board_test::systemd_hears_ready_status_and_watchdog_pings()
{
    pty_board board(1);
    QTemporaryDir dir;
    notify_listener systemd(dir.filePath("notify"));
    QVERIFY(systemd.ok());
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("NOTIFY_SOCKET", dir.filePath("notify"));
    env.insert("WATCHDOG_USEC", "400000");
    env.remove("WATCHDOG_PID");
    relayd_process relayd({"--port", QString::fromStdString(board.slave_path()), "--socket", dir.filePath("b.sock")},
                          env);

    const QString ready = systemd.next(5000ms);
    QVERIFY2(ready.startsWith("READY=1\nSTATUS=board "), qPrintable(ready));

    // Pings at half the watchdog time, 200 ms; status lines come between.
    int pings = 0;
    bool answering_status = false;
    const auto start = clock::now();
    while (pings < 5 && seconds_since(start) < 3) {
        const QString message = systemd.next(1000ms);
        if (message == "WATCHDOG=1")
            ++pings;
        else if (message == "STATUS=board answering")
            answering_status = true;
    }
    const double took = seconds_since(start);
    QCOMPARE(pings, 5);
    QVERIFY2(took > 0.8 && took < 1.3, qPrintable(QString("5 pings took %1 s").arg(took)));
    QVERIFY(answering_status || ready == "READY=1\nSTATUS=board answering");

    relayd.terminate();
    QString stopping;
    for (int i = 0; i < 5 && !stopping.startsWith("STOPPING=1"); ++i)
        stopping = systemd.next(2000ms);
    QVERIFY2(stopping.startsWith("STOPPING=1"), qPrintable(stopping));
    QVERIFY(relayd.wait_for_exit());
    QCOMPARE(relayd.exit_code(), 0);
}

}  // namespace relay::relayd::testing

QTEST_GUILESS_MAIN(relay::relayd::testing::relayd_board_test)
#include "relayd_board_test.moc"
