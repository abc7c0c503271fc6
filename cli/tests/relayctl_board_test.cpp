// relayctl as a script runs it, against the simulated board on a
// pseudo-terminal: the frames it puts on the line, what it prints and the
// exit status it ends with.

#include "cli/exit_codes.h"
#include "protocol/frame.h"
#include "relayctl_process.h"
#include "sim/pty_board.h"
#include "frame_bytes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace relay::cli::testing {
namespace {

using relay::testing::bytes_of;
using chunks = std::vector<pty_board::chunk>;

frame query_frame(int address) { return encode_command(address, status_query); }

frame set_frame(int address, std::array<std::uint8_t, relay_count> actions)
{
    return encode_command(address, command_tuple{code_set_relays, actions});
}

std::vector<frame> frames_since(const pty_board& board, std::size_t first)
{
    std::vector<frame> out;
    const auto log = board.received_frames();
    for (std::size_t i = first; i < log.size(); ++i)
        out.push_back(log[i].bytes);
    return out;
}

QString hex(const frame& f)
{
    QStringList bytes;
    for (const auto b : f)
        bytes << QString::asprintf("%02X", b);
    return bytes.join(' ');
}

QString hex(const std::vector<frame>& frames)
{
    QStringList all;
    for (const auto& f : frames)
        all << hex(f);
    return all.join(" | ");
}

// The answer with its relay bytes replaced: a board that reports a state
// of its own choosing, whatever it was told.
pty_board::answer_shaper reporting(std::array<std::uint8_t, relay_count> statuses)
{
    return [statuses](const frame& answer) {
        const auto f = encode_status(answer[1], answer[2], statuses);
        return chunks{{{f.begin(), f.end()}, 0ms}};
    };
}


}  // namespace

class relayctl_board_test : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        board = std::make_unique<pty_board>();
        port = QString::fromStdString(board->slave_path());
    }
    void cleanup() { board.reset(); }

    void a_command_sends_its_frame_then_queries_until_confirmed_data();
    void a_command_sends_its_frame_then_queries_until_confirmed();
    void status_sends_only_queries_and_prints_the_states();
    void toggle_reads_the_state_then_switches_the_other_way();
    void toggle_sends_nothing_for_a_relay_the_board_cannot_report();
    void the_address_goes_into_every_frame();
    void a_board_at_another_address_gives_no_answer();
    void json_output_parses_back();
    void an_unknown_status_byte_is_reported_as_unknown();
    void an_answer_in_two_pieces_still_counts();
    void a_silent_board_ends_in_no_answer_after_a_few_tries();
    void bad_answers_count_as_no_answer_data();
    void bad_answers_count_as_no_answer();
    void a_board_that_keeps_the_old_state_did_not_take_the_command_data();
    void a_board_that_keeps_the_old_state_did_not_take_the_command();
    void a_port_that_cannot_be_opened_says_why_data();
    void a_port_that_cannot_be_opened_says_why();
    void a_port_held_by_another_program_names_it_and_says_to_try_again();
    void a_port_that_goes_away_while_waiting_ends_with_the_port_status();
    void answers_left_unread_by_earlier_runs_never_fail_the_next();
    void a_result_that_cannot_be_written_is_a_failure();
    void a_pulse_or_a_cycle_holds_the_port_for_its_time_data();
    void a_pulse_or_a_cycle_holds_the_port_for_its_time();
    void bad_arguments_are_a_usage_error_and_send_nothing_data();
    void bad_arguments_are_a_usage_error_and_send_nothing();
    void help_and_version_need_no_board();

private:
    QStringList on_board(QStringList args) const
    {
        return QStringList{"--port", port} + args;
    }

    std::unique_ptr<pty_board> board;
    QString port;
};

void relayctl_board_test::a_command_sends_its_frame_then_queries_until_confirmed_data()
{
    QTest::addColumn<bool>("all_on_first");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("command");  // the 8 bytes expected first
    QTest::addColumn<QString>("printed");

    const auto bytes = [](const frame& f) { return QByteArray(reinterpret_cast<const char*>(f.data()), 8); };
    QTest::newRow("on 1") << false << QStringList{"on", "1"} << bytes(set_frame(1, {2, 0, 0, 0}))
                          << "1=on 2=off 3=off 4=off";
    QTest::newRow("on 2") << false << QStringList{"on", "2"} << bytes(set_frame(1, {0, 2, 0, 0}))
                          << "1=off 2=on 3=off 4=off";
    QTest::newRow("on 3") << false << QStringList{"on", "3"} << bytes(set_frame(1, {0, 0, 2, 0}))
                          << "1=off 2=off 3=on 4=off";
    QTest::newRow("on 4") << false << QStringList{"on", "4"} << bytes(set_frame(1, {0, 0, 0, 2}))
                          << "1=off 2=off 3=off 4=on";
    QTest::newRow("off 1") << true << QStringList{"off", "1"} << bytes(set_frame(1, {1, 0, 0, 0}))
                           << "1=off 2=on 3=on 4=on";
    QTest::newRow("off 4") << true << QStringList{"off", "4"} << bytes(set_frame(1, {0, 0, 0, 1}))
                           << "1=on 2=on 3=on 4=off";
    QTest::newRow("all-on") << false << QStringList{"all-on"} << bytes(set_frame(1, {2, 2, 2, 2}))
                            << "1=on 2=on 3=on 4=on";
    QTest::newRow("all-off") << true << QStringList{"all-off"} << bytes(set_frame(1, {1, 1, 1, 1}))
                             << "1=off 2=off 3=off 4=off";
}

void relayctl_board_test::a_command_sends_its_frame_then_queries_until_confirmed()
{
    QFETCH(bool, all_on_first);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, command);
    QFETCH(QString, printed);

    if (all_on_first) {
        const auto setup = run_relayctl(on_board({"all-on"}));
        QCOMPARE(setup.exit_code, int(exit_success));
    }
    const auto before = board->received_frames().size();
    const auto run = run_relayctl(on_board(args));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_success));
    QCOMPARE(run.out, printed + "\n");
    QCOMPARE(run.err, QString());

    const auto frames = frames_since(*board, before);
    QVERIFY2(frames.size() >= 2, qPrintable(hex(frames)));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frames[0].data()), 8), command);
    for (std::size_t i = 1; i < frames.size(); ++i)
        QVERIFY2(frames[i] == query_frame(1), qPrintable(hex(frames)));
    // Confirmed by the first answer to a query: no reason to ask again.
    QCOMPARE(frames.size(), std::size_t{2});

    // What was printed is what the board now holds.
    const auto relays = board->relays();
    QStringList expected;
    for (int i = 0; i < relay_count; ++i)
        expected << QString("%1=%2").arg(i + 1).arg(relays[static_cast<std::size_t>(i)] ? "on" : "off");
    QCOMPARE(expected.join(' '), printed);
}

void relayctl_board_test::status_sends_only_queries_and_prints_the_states()
{
    QCOMPARE(run_relayctl(on_board({"on", "3"})).exit_code, int(exit_success));
    const auto before = board->received_frames().size();

    const auto run = run_relayctl(on_board({"status"}));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_success));
    QCOMPARE(run.out, QString("1=off 2=off 3=on 4=off\n"));
    const auto frames = frames_since(*board, before);
    QCOMPARE(frames.size(), std::size_t{1});
    QCOMPARE(hex(frames[0]), hex(query_frame(1)));
    QVERIFY(board->relays()[2]);
}

void relayctl_board_test::toggle_reads_the_state_then_switches_the_other_way()
{
    struct step {
        frame command;
        QString printed;
    };
    const step steps[] = {{set_frame(1, {0, 2, 0, 0}), "1=off 2=on 3=off 4=off"},
                          {set_frame(1, {0, 1, 0, 0}), "1=off 2=off 3=off 4=off"}};
    for (const auto& s : steps) {
        const auto before = board->received_frames().size();
        const auto run = run_relayctl(on_board({"toggle", "2"}));
        QVERIFY(run.finished);
        QCOMPARE(run.exit_code, int(exit_success));
        QCOMPARE(run.out, s.printed + "\n");
        const auto frames = frames_since(*board, before);
        // One query to learn the state, the command, one query to confirm.
        QCOMPARE(hex(frames), hex(std::vector<frame>{query_frame(1), s.command, query_frame(1)}));
    }
}

void relayctl_board_test::toggle_sends_nothing_for_a_relay_the_board_cannot_report()
{
    board->set_answer_shaper(reporting({1, 0, 1, 1}));
    const auto run = run_relayctl(on_board({"--timeout", "300", "toggle", "2"}));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_no_answer));
    QCOMPARE(run.out, QString());
    const auto frames = frames_since(*board, 0);
    QVERIFY2(frames.size() >= 2, qPrintable(hex(frames)));
    for (const auto& f : frames)
        QVERIFY2(f == query_frame(1), qPrintable(hex(frames)));
    QVERIFY(!board->relays()[1]);
}

void relayctl_board_test::the_address_goes_into_every_frame()
{
    const auto run = run_relayctl(on_board({"--address", "255", "on", "4"}));
    QCOMPARE(run.exit_code, int(exit_success));
    QCOMPARE(hex(frames_since(*board, 0)), hex(std::vector<frame>{set_frame(255, {0, 0, 0, 2}), query_frame(255)}));
}

void relayctl_board_test::a_board_at_another_address_gives_no_answer()
{
    board = std::make_unique<pty_board>(std::uint8_t{5});
    port = QString::fromStdString(board->slave_path());

    const auto wrong = run_relayctl(on_board({"--address", "6", "--timeout", "300", "status"}));
    QCOMPARE(wrong.exit_code, int(exit_no_answer));
    QVERIFY2(wrong.err.contains("address 6"), qPrintable(wrong.err));

    const auto right = run_relayctl(on_board({"--address", "5", "status"}));
    QCOMPARE(right.exit_code, int(exit_success));
    QCOMPARE(right.out, QString("1=off 2=off 3=off 4=off\n"));
}

void relayctl_board_test::json_output_parses_back()
{
    const QStringList commands[] = {{"--json", "on", "2"}, {"status", "--json"}, {"--json", "toggle", "1"}};
    const char* expected[][4] = {{"off", "on", "off", "off"}, {"off", "on", "off", "off"}, {"on", "on", "off", "off"}};
    for (std::size_t n = 0; n < std::size(commands); ++n) {
        const auto run = run_relayctl(on_board(QStringList{"--address", "0"} + commands[n]));
        QCOMPARE(run.exit_code, int(exit_success));
        QVERIFY2(run.out.endsWith('\n') && run.out.count('\n') == 1, qPrintable(run.out));
        QJsonParseError error{};
        const auto doc = QJsonDocument::fromJson(run.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + ": " + run.out));
        QVERIFY(doc.isObject());
        const auto object = doc.object();
        QCOMPARE(object.keys(), (QStringList{"address", "port", "relays"}));
        QCOMPARE(object["port"].toString(), port);
        QVERIFY(object["address"].isDouble());
        QCOMPARE(object["address"].toInt(-1), 0);
        const auto relays = object["relays"].toObject();
        QCOMPARE(relays.keys(), (QStringList{"1", "2", "3", "4"}));
        for (int i = 0; i < relay_count; ++i)
            QCOMPARE(relays[QString::number(i + 1)].toString(), QString(expected[n][i]));
    }
}

void relayctl_board_test::an_unknown_status_byte_is_reported_as_unknown()
{
    board->set_answer_shaper(reporting({2, 0, 0xFF, 1}));
    const auto plain = run_relayctl(on_board({"status"}));
    QCOMPARE(plain.exit_code, int(exit_success));
    QCOMPARE(plain.out, QString("1=on 2=unknown 3=unknown 4=off\n"));

    const auto json = run_relayctl(on_board({"--json", "status"}));
    QCOMPARE(json.exit_code, int(exit_success));
    const auto relays = QJsonDocument::fromJson(json.out.toUtf8()).object()["relays"].toObject();
    QCOMPARE(relays["2"].toString(), QString("unknown"));
    QCOMPARE(relays["3"].toString(), QString("unknown"));
    QCOMPARE(relays["4"].toString(), QString("off"));
}

void relayctl_board_test::an_answer_in_two_pieces_still_counts()
{
    board->set_answer_shaper([](const frame& answer) {
        return chunks{{{answer.begin(), answer.begin() + 5}, 0ms}, {{answer.begin() + 5, answer.end()}, 30ms}};
    });
    const auto run = run_relayctl(on_board({"on", "1"}));
    QCOMPARE(run.exit_code, int(exit_success));
    QCOMPARE(run.out, QString("1=on 2=off 3=off 4=off\n"));
}

void relayctl_board_test::a_silent_board_ends_in_no_answer_after_a_few_tries()
{
    board->set_silent(true);
    const auto run = run_relayctl(on_board({"--timeout", "400", "on", "2"}));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_no_answer));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains("no valid answer") && run.err.contains(port) && run.err.contains("400 ms"),
             qPrintable(run.err));
    // It waited out the timeout, and not much longer.
    QVERIFY2(run.took >= 400ms && run.took < 5000ms, qPrintable(QString::number(run.took.count())));

    const auto frames = frames_since(*board, 0);
    QVERIFY2(frames.size() >= 3, qPrintable(hex(frames)));
    // Every 80 ms within 400 ms: the command and at most five queries.
    QVERIFY2(frames.size() <= 7, qPrintable(hex(frames)));
    QCOMPARE(hex(frames[0]), hex(set_frame(1, {0, 2, 0, 0})));
    for (std::size_t i = 1; i < frames.size(); ++i)
        QVERIFY2(frames[i] == query_frame(1), qPrintable(hex(frames)));
    // A silent board still obeys; only the proof is missing.
    QVERIFY(board->relays()[1]);
}

void relayctl_board_test::bad_answers_count_as_no_answer_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("start byte 0x23") << 0;
    QTest::newRow("checksum off by one") << 1;
    QTest::newRow("only seven bytes") << 2;
    QTest::newRow("a stray byte ahead of the frame") << 3;
    QTest::newRow("a command frame echoed back") << 4;
}

void relayctl_board_test::bad_answers_count_as_no_answer()
{
    QFETCH(int, kind);
    board->set_answer_shaper([kind](const frame& answer) {
        std::vector<std::uint8_t> out(answer.begin(), answer.end());
        switch (kind) {
        case 0:
            out[0] = 0x23;
            out[7] = static_cast<std::uint8_t>(out[7] + 1);
            break;
        case 1:
            out[7] = static_cast<std::uint8_t>(out[7] + 1);
            break;
        case 2:
            out.pop_back();
            break;
        case 3:
            out.insert(out.begin(), 0x22);
            break;
        default:
            out = bytes_of(query_frame(1));
        }
        return chunks{{out, 0ms}};
    });
    for (const char* command : {"status", "all-on"}) {
        const auto run = run_relayctl(on_board({"--timeout", "300", command}));
        QVERIFY(run.finished);
        QCOMPARE(run.exit_code, int(exit_no_answer));
        QCOMPARE(run.out, QString());
    }
}

void relayctl_board_test::a_board_that_keeps_the_old_state_did_not_take_the_command_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("on 3") << QStringList{"on", "3"} << "1=off 2=off 3=off 4=off" << "did not switch relay 3 on";
    QTest::newRow("all-on") << QStringList{"all-on"} << "1=off 2=off 3=off 4=off" << "did not switch all relays on";
    QTest::newRow("toggle 1") << QStringList{"toggle", "1"} << "1=off 2=off 3=off 4=off"
                              << "did not switch relay 1 on";
}

void relayctl_board_test::a_board_that_keeps_the_old_state_did_not_take_the_command()
{
    QFETCH(QStringList, args);
    QFETCH(QString, printed);
    QFETCH(QString, complaint);
    board->set_answer_shaper(reporting({1, 1, 1, 1}));

    const auto run = run_relayctl(on_board(QStringList{"--timeout", "2000"} + args));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_not_taken));
    QCOMPARE(run.out, printed + "\n");
    QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
    // A few refusals are enough; it does not wait out a long timeout.
    QVERIFY2(run.took < 1500ms, qPrintable(QString::number(run.took.count())));

    // The same board does confirm a command that matches what it reports.
    const auto off = run_relayctl(on_board({"all-off"}));
    QCOMPARE(off.exit_code, int(exit_success));
}

void relayctl_board_test::a_port_that_cannot_be_opened_says_why_data()
{
    QTest::addColumn<QString>("port_text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such device") << "/dev/relayctl-no-such-port" << "does not exist";
    QTest::newRow("no such device name") << "ttyRELAYCTLNONE" << "/dev/ttyRELAYCTLNONE does not exist";
    QTest::newRow("no such port number") << "32767" << "There is no port 32767";
    QTest::newRow("not a file at all") << "/proc/self/status" << "/proc/self/status";
}

void relayctl_board_test::a_port_that_cannot_be_opened_says_why()
{
    QFETCH(QString, port_text);
    QFETCH(QString, reason);
    const auto run = run_relayctl({"--port", port_text, "on", "1"});
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_port));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith("relayctl: ") && run.err.contains(reason), qPrintable(run.err));
    QCOMPARE(board->frame_count(), std::size_t{0});
}

// The holder is a second relayctl that waits on a silent board. The test
// itself holds both sides of the pseudo-terminal, as a simulated board
// does: it is the far end of the line, never named as a holder.
void relayctl_board_test::a_port_held_by_another_program_names_it_and_says_to_try_again()
{
    board->set_silent(true);
    relayctl_process holder(on_board({"--timeout", "20000", "status"}));
    QVERIFY(board->wait_for_frame_count(1, 10000ms));
    const auto run = run_relayctl(on_board({"on", "1"}));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_port));
    QCOMPARE(run.err, "relayctl: The port " + port + " is in use by relayctl (pid " + QString::number(holder.pid()) +
                          "). Try again once it has closed the port.\n");
}

void relayctl_board_test::a_port_that_goes_away_while_waiting_ends_with_the_port_status()
{
    board->set_silent(true);
    relayctl_process process(on_board({"--timeout", "10000", "status"}));
    QVERIFY(board->wait_for_frame_count(1, 10000ms));
    board->close_line();
    const auto run = process.finish();
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_port));
    QVERIFY2(run.err.contains("stopped working"), qPrintable(run.err));
    // Named as given, with the real cause rather than a stale errno.
    QVERIFY2(run.err.contains("The port " + port + " stopped working: the device went away"), qPrintable(run.err));
    QVERIFY2(!run.err.contains("ioctl"), qPrintable(run.err));
    QVERIFY2(run.took < 8000ms, qPrintable(QString::number(run.took.count())));
}

// A run that gives up leaves the board's answer waiting on the line; the
// next run discards it before its own frame, and must not take the read
// that then finds nothing for a lost port.
void relayctl_board_test::answers_left_unread_by_earlier_runs_never_fail_the_next()
{
    for (int round = 0; round < 8; ++round) {
        const auto hasty = run_relayctl(on_board({"--timeout", "1", "status"}));
        QVERIFY(hasty.finished);
        QVERIFY(board->wait_for_frame_count(static_cast<std::size_t>(2 * round + 1), 2000ms));
        const auto next = run_relayctl(on_board({"status"}));
        QVERIFY(next.finished);
        QVERIFY2(next.exit_code == int(exit_success), qPrintable(QString("round %1: %2").arg(round).arg(next.err)));
        QCOMPARE(next.out, QString("1=off 2=off 3=off 4=off\n"));
    }
    const auto hasty = run_relayctl(on_board({"--timeout", "1", "status"}));
    QVERIFY(hasty.finished);
    const auto switched = run_relayctl(on_board({"on", "2"}));
    QVERIFY2(switched.exit_code == int(exit_success), qPrintable(switched.err));
    QCOMPARE(board->relays(), (std::array<bool, relay_count>{false, true, false, false}));
}

void relayctl_board_test::a_result_that_cannot_be_written_is_a_failure()
{
    relayctl_process process(on_board({"status"}), QStringLiteral("/dev/full"));
    const auto run = process.finish();
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_output));
    QVERIFY2(run.err.contains("could not write the result"), qPrintable(run.err));
}

void relayctl_board_test::a_pulse_or_a_cycle_holds_the_port_for_its_time_data()
{
    QTest::addColumn<bool>("all_on_first");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("set_frames");  // in hex, as they reached the board
    QTest::addColumn<int>("held_ms");         // at least, between the two set frames

    QTest::newRow("pulse 2") << false << QStringList{"pulse", "2", "300ms"} << int(exit_success)
                             << "1=off 2=off 3=off 4=off\n"
                             << hex(std::vector<frame>{set_frame(1, {0, 2, 0, 0}), set_frame(1, {0, 1, 0, 0})}) << 300;
    QTest::newRow("cycle 3") << true << QStringList{"cycle", "3", "0.2s"} << int(exit_success)
                             << "1=on 2=on 3=on 4=on\n"
                             << hex(std::vector<frame>{set_frame(1, {0, 0, 1, 0}), set_frame(1, {0, 0, 2, 0})}) << 200;
    // Without an owner there are no names to go by.
    QTest::newRow("a name without an owner") << false << QStringList{"pulse", "pump", "1s"} << int(exit_usage)
                                             << QString() << QString() << 0;
}

void relayctl_board_test::a_pulse_or_a_cycle_holds_the_port_for_its_time()
{
    QFETCH(bool, all_on_first);
    QFETCH(QStringList, args);
    QFETCH(int, exit_code);
    QFETCH(QString, printed);
    QFETCH(QString, set_frames);
    QFETCH(int, held_ms);

    if (all_on_first)
        QCOMPARE(run_relayctl(on_board({"all-on"})).exit_code, int(exit_success));
    const auto before = board->received_frames().size();
    const auto run = run_relayctl(on_board(args));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, exit_code);
    QCOMPARE(run.out, printed);
    if (exit_code != exit_success)
        QVERIFY2(run.err.contains("knows the relays' names"), qPrintable(run.err));

    std::vector<received_frame> sets;
    const auto log = board->received_frames();
    for (std::size_t i = before; i < log.size(); ++i)
        if (log[i].bytes != query_frame(1))
            sets.push_back(log[i]);
    std::vector<frame> set_bytes;
    for (const auto& f : sets)
        set_bytes.push_back(f.bytes);
    QCOMPARE(hex(set_bytes), set_frames);
    // The simulated board stamps a frame when its reader wakes to take it,
    // which on a loaded machine can come a little after relayctl wrote it.
    const auto jitter = std::chrono::milliseconds(20);
    if (sets.size() == 2)
        QVERIFY2(sets[1].arrival - sets[0].arrival >= std::chrono::milliseconds(held_ms) - jitter,
                 qPrintable(QString::number(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                sets[1].arrival - sets[0].arrival)
                                                .count())));
}

void relayctl_board_test::bad_arguments_are_a_usage_error_and_send_nothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("fault");
    QTest::newRow("no command") << QStringList{} << "no command";
    QTest::newRow("relay 0") << QStringList{"on", "0"} << "'0'";
    QTest::newRow("relay 5") << QStringList{"toggle", "5"} << "'5'";
    QTest::newRow("missing relay") << QStringList{"off"} << "needs a relay";
    QTest::newRow("address 256") << QStringList{"--address", "256", "status"} << "--address";
    QTest::newRow("address 1.5") << QStringList{"--address", "1.5", "status"} << "'1.5'";
    QTest::newRow("address -1") << QStringList{"--address", "-1", "status"} << "'-1'";
    QTest::newRow("timeout 0") << QStringList{"--timeout", "0", "status"} << "--timeout";
    QTest::newRow("port 0") << QStringList{"--port", "0", "status"} << "--port";
    QTest::newRow("port -1") << QStringList{"--port", "-1", "status"} << "'-1'";
    QTest::newRow("port 99999") << QStringList{"--port", "99999", "status"} << "'99999'";
    QTest::newRow("port 32768") << QStringList{"--port", "32768", "status"} << "'32768'";
    QTest::newRow("unknown option") << QStringList{"--baud", "9600", "status"} << "'--baud'";
    QTest::newRow("unknown command") << QStringList{"reset"} << "'reset'";
    QTest::newRow("extra word") << QStringList{"all-off", "now"} << "'now'";
    QTest::newRow("pulse too short") << QStringList{"pulse", "2", "99ms"} << "from 100 ms to 24 h";
    QTest::newRow("cycle too long") << QStringList{"cycle", "2", "24.5h"} << "from 100 ms to 24 h";
    QTest::newRow("pulse without a duration") << QStringList{"pulse", "2"} << "needs a relay and a duration";
}

void relayctl_board_test::bad_arguments_are_a_usage_error_and_send_nothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, fault);
    const auto run = run_relayctl(on_board(args));
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, int(exit_usage));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith("relayctl: ") && run.err.contains(fault) && run.err.contains("relayctl --help"),
             qPrintable(run.err));
    QCOMPARE(board->frame_count(), std::size_t{0});
}

void relayctl_board_test::help_and_version_need_no_board()
{
    const auto help = run_relayctl({"--port", "/dev/relayctl-no-such-port", "--help"});
    QCOMPARE(help.exit_code, int(exit_success));
    QVERIFY(help.out.startsWith("Usage: relayctl"));
    QVERIFY(help.out.contains("Exit status:"));
    QCOMPARE(help.err, QString());

    const auto version = run_relayctl({"--version"});
    QCOMPARE(version.exit_code, int(exit_success));
    QCOMPARE(version.out, QString("relayctl " RELAY_EXPECTED_VERSION "\n"));
    QCOMPARE(board->frame_count(), std::size_t{0});
}

}  // namespace relay::cli::testing

QTEST_GUILESS_MAIN(relay::cli::testing::relayctl_board_test)
#include "relayctl_board_test.moc"
