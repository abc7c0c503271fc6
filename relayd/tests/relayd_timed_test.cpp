// Pulses, cycles and the interlock through relayd as the system runs it: a
// child process, a simulated board on a real pseudo-terminal, requests on
// the control socket. What counts is what the board received, read back
// from its own log of frames.

#include "board_history.h"
#include "relayd_process.h"
#include "sim/pty_board.h"
#include "socket_client.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <optional>

using namespace std::chrono_literals;

namespace relay::relayd::testing {
namespace {

using relay::testing::socket_client;
using clock = std::chrono::steady_clock;

constexpr int long_reply_ms = 30000;

QRegularExpression line(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption);
}

QString write_config(const QTemporaryDir& dir, const pty_board& board, const QString& extra)
{
    const QString path = dir.filePath("relayd.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QString("[board b]\nport = %1\nsocket = %2\n%3")
                   .arg(QString::fromStdString(board.slave_path()), dir.filePath("b.sock"), extra)
                   .toUtf8());
    return path;
}

QProcessEnvironment state_in(const QTemporaryDir& dir)
{
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    return env;
}

bool relay_on(const pty_board& board, int relay) { return board.relays()[static_cast<std::size_t>(relay - 1)]; }

}  // namespace

class relayd_timed_test : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;

    // relayd on board with the extra lines in its board's section; whether
    // the board answers it.
    bool start(std::unique_ptr<relayd_process>& relayd, const QTemporaryDir& dir, const pty_board& board,
               const QString& extra = {})
    {
        relayd = std::make_unique<relayd_process>(QStringList{"--config", write_config(dir, board, extra)},
                                                  state_in(dir));
        return relayd->wait_for_log(line("^<6>b: board at address 1 answering$"));
    }

private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8()); }
    void requests_as_the_board_sees_them_data();
    void requests_as_the_board_sees_them();
    void sigterm_puts_a_pending_pulse_off_and_exits_0();
    void sigkill_during_a_pulse_then_a_restart_puts_it_off_data();
    void sigkill_during_a_pulse_then_a_restart_puts_it_off();
};

void relayd_timed_test::requests_as_the_board_sees_them_data()
{
    QTest::addColumn<QString>("extra");       // lines of the board's section
    QTest::addColumn<QVector<int>>("before");  // relays switched on first
    QTest::addColumn<QByteArray>("asked");     // the request timed or refused
    QTest::addColumn<QString>("answer");       // "ok" or the reply's code
    QTest::addColumn<QByteArray>("meanwhile"); // from a second client once the first step shows
    QTest::addColumn<int>("relay");            // whose switched time is measured; 0 none
    QTest::addColumn<int>("held_ms");          // at least this long
    QTest::addColumn<QVector<int>>("after");   // relays on at the end
    QTest::addColumn<int>("extra_frames");     // set frames beyond those of `before`

    const QString interlock = "interlock = 1 3\n";
    QTest::newRow("pulse") << QString() << QVector<int>{} << QByteArray(R"({"cmd":"pulse","relay":2,"ms":500})")
                           << "ok" << QByteArray() << 2 << 500 << QVector<int>{} << 2;
    QTest::newRow("cycle") << QString() << QVector<int>{3} << QByteArray(R"({"cmd":"cycle","relay":3,"ms":300})")
                           << "ok" << QByteArray() << 3 << 300 << QVector<int>{3} << 2;
    QTest::newRow("status_and_watch_leave_it") << QString() << QVector<int>{}
                                               << QByteArray(R"({"cmd":"pulse","relay":2,"ms":700})") << "ok"
                                               << QByteArray(R"({"cmd":"status"})") << 2 << 700 << QVector<int>{}
                                               << 2;
    QTest::newRow("replaced_by_on") << QString() << QVector<int>{}
                                    << QByteArray(R"({"cmd":"pulse","relay":2,"ms":20000})") << "refused"
                                    << QByteArray(R"({"cmd":"on","relay":2})") << 0 << 0 << QVector<int>{2} << 2;
    QTest::newRow("interlock_breaks_before_it_makes") << interlock << QVector<int>{3}
                                                      << QByteArray(R"({"cmd":"on","relay":1})") << "ok" << QByteArray()
                                                      << 0 << 0 << QVector<int>{1} << 2;
    QTest::newRow("interlock_pulse") << interlock << QVector<int>{3}
                                     << QByteArray(R"({"cmd":"pulse","relay":1,"ms":300})") << "ok" << QByteArray()
                                     << 1 << 300 << QVector<int>{} << 3;
    QTest::newRow("interlock_refuses_all_on") << interlock << QVector<int>{3} << QByteArray(R"({"cmd":"all-on"})")
                                              << "interlock" << QByteArray() << 0 << 0 << QVector<int>{3} << 0;
}

void relayd_timed_test::requests_as_the_board_sees_them()
{
    QFETCH(QString, extra);
    QFETCH(QVector<int>, before);
    QFETCH(QByteArray, asked);
    QFETCH(QString, answer);
    QFETCH(QByteArray, meanwhile);
    QFETCH(int, relay);
    QFETCH(int, held_ms);
    QFETCH(QVector<int>, after);
    QFETCH(int, extra_frames);

    pty_board board(1);
    QTemporaryDir dir;
    std::unique_ptr<relayd_process> relayd;
    QVERIFY2(start(relayd, dir, board, extra), qPrintable(relayd->log()));
    socket_client first;
    socket_client second;
    QVERIFY(first.connect_to(dir.filePath("b.sock").toStdString()));
    QVERIFY(second.connect_to(dir.filePath("b.sock").toStdString()));
    for (const int r : before) {
        const auto reply = first.ask(QString(R"({"cmd":"on","relay":%1})").arg(r).toUtf8());
        QVERIFY2(reply && reply->value("ok").toBool(), reply ? QJsonDocument(*reply).toJson().constData() : "none");
    }
    const auto start_state = board.relays();
    const auto frames_before = replay(board, {}, 0, {}).set_frames;

    first.send(asked + "\n");
    if (!meanwhile.isEmpty()) {
        const int timed = QJsonDocument::fromJson(asked).object().value("relay").toInt();
        const bool pulse = asked.contains("pulse");
        QTRY_VERIFY_WITH_TIMEOUT(relay_on(board, timed) == pulse, 5000);
        const auto reply = second.ask(meanwhile);
        QVERIFY2(reply && reply->value("ok").toBool(), reply ? QJsonDocument(*reply).toJson().constData() : "none");
    }
    const auto reply = first.next(long_reply_ms);
    QVERIFY(reply);
    QCOMPARE(reply->value("ok").toBool() ? QString("ok") : reply->value("code").toString(), answer);

    std::array<bool, relay_count> expected{};
    for (const int r : after)
        expected[static_cast<std::size_t>(r - 1)] = true;
    QTRY_VERIFY_WITH_TIMEOUT(board.relays() == expected, 5000);

    const auto seen = replay(board, start_state, relay, {1, 3});
    if (relay != 0) {
        QVERIFY(seen.held);
        QVERIFY2(seen.held->count() >= held_ms - 30, qPrintable(QString::number(seen.held->count())));
    }
    if (!extra.isEmpty())
        QVERIFY2(!seen.group_ever_on_together, "relays 1 and 3 were on together at the board");
    QCOMPARE(replay(board, {}, 0, {}).set_frames - frames_before, extra_frames);
}

void relayd_timed_test::sigterm_puts_a_pending_pulse_off_and_exits_0()
{
    pty_board board(1);
    QTemporaryDir dir;
    std::unique_ptr<relayd_process> relayd;
    QVERIFY2(start(relayd, dir, board), qPrintable(relayd->log()));
    socket_client client;
    QVERIFY(client.connect_to(dir.filePath("b.sock").toStdString()));
    client.send(R"({"cmd":"pulse","relay":2,"ms":20000})" "\n");
    QTRY_VERIFY_WITH_TIMEOUT(relay_on(board, 2), 5000);
    const auto asked_to_stop = clock::now();
    relayd->terminate();
    QVERIFY(relayd->wait_for_exit());
    QVERIFY(relayd->exited_normally());
    QCOMPARE(relayd->exit_code(), 0);
    QVERIFY2(clock::now() - asked_to_stop < 5s, "the settling is bounded");
    QVERIFY2(!relay_on(board, 2), qPrintable(relayd->log()));
    // Settled, so nothing is left for the next run.
    QVERIFY(QDir(dir.filePath("state/relayd")).entryList({"pending-steps-*"}, QDir::Files).isEmpty());
}

void relayd_timed_test::sigkill_during_a_pulse_then_a_restart_puts_it_off_data()
{
    // What the killed run's file says before the restart, %1 standing for
    // the wall-clock time in ms an hour from now; empty leaves it as written.
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("logged");  // the restart's line of the step
    QTest::addColumn<int>("off_within_ms");

    QTest::newRow("as_left") << QString()
                             << "<4>b: relay 2 goes off in \\d+ ms once the board answers: a timed step left" << 25000;
    // A clock an hour behind the pulse's start: it waits its own length, not
    // the hour; a line torn off is said and left out.
    QTest::newRow("clock_behind") << "2 off %1 300\n9 of"
                                  << "<4>b: relay 2 goes off in 300 ms \\(due in \\d+ ms by the clock, longer than "
                                     "the step lasts: the clock is behind\\) once the board answers"
                                  << 5000;
}

void relayd_timed_test::sigkill_during_a_pulse_then_a_restart_puts_it_off()
{
    QFETCH(QString, left);
    QFETCH(QString, logged);
    QFETCH(int, off_within_ms);
    pty_board board(1);
    QTemporaryDir dir;
    std::unique_ptr<relayd_process> relayd;
    QVERIFY2(start(relayd, dir, board), qPrintable(relayd->log()));
    socket_client client;
    QVERIFY(client.connect_to(dir.filePath("b.sock").toStdString()));
    client.send(R"({"cmd":"pulse","relay":2,"ms":20000})" "\n");
    QTRY_VERIFY_WITH_TIMEOUT(relay_on(board, 2), 5000);
    const QDir state(dir.filePath("state/relayd"));
    // Not its ".new" copy, which only the rename makes the file.
    const auto pending_files = [&state] {
        QStringList names = state.entryList({"pending-steps-*"}, QDir::Files);
        names.erase(std::remove_if(names.begin(), names.end(), [](const QString& n) { return n.endsWith(".new"); }),
                    names.end());
        return names;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!pending_files().isEmpty(), 5000);
    relayd->kill();
    QVERIFY(relayd->wait_for_exit());
    QVERIFY(relay_on(board, 2));
    if (!left.isEmpty()) {
        QFile file(state.filePath(pending_files().first()));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const auto hour_ahead = std::chrono::duration_cast<std::chrono::milliseconds>(
            (std::chrono::system_clock::now() + 1h).time_since_epoch());
        file.write(left.arg(hour_ahead.count()).toUtf8());
    }

    QVERIFY2(start(relayd, dir, board), qPrintable(relayd->log()));
    QVERIFY2(relayd->log().contains(QRegularExpression(logged)), qPrintable(relayd->log()));
    if (!left.isEmpty())
        QVERIFY2(relayd->log().contains("<4>b: a timed step left by an earlier run is ignored: "),
                 qPrintable(relayd->log()));
    QTRY_VERIFY_WITH_TIMEOUT(!relay_on(board, 2), off_within_ms);
    QTRY_VERIFY_WITH_TIMEOUT(pending_files().isEmpty(), 5000);
}

}  // namespace relay::relayd::testing

QTEST_GUILESS_MAIN(relay::relayd::testing::relayd_timed_test)
#include "relayd_timed_test.moc"
