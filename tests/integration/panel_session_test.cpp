// The panel's whole session (real port, link, board core and 100 ms timer)
// with the window's logic presenting it, against the simulated board on a
// pseudo-terminal: what goes out on the line, how often, and what the
// indicators make of the answers.

#include "event_loop_window.h"
#include "live_board_rig.h"
#include "panel/panel_controller.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relay {
namespace {

using testing::run_event_loop_for;

using namespace std::chrono_literals;

constexpr int deadline_ms = 5000;

struct command_row {
    const char* name;
    std::function<void(panel_controller&)> before;  // brings the board to the row's start
    std::function<void(panel_controller&)> click;
    frame sent;
    std::array<bool, relay_count> relays;
};

frame command(std::array<std::uint8_t, relay_count> actions)
{
    return encode_command(1, command_tuple{code_set_relays, actions});
}

const std::vector<command_row>& command_rows()
{
    static const std::vector<command_row> rows{
        {"relay 2 on", nullptr, [](panel_controller& c) { c.open_Click(2); }, command({0, 2, 0, 0}),
         {false, true, false, false}},
        {"relay 4 on", nullptr, [](panel_controller& c) { c.open_Click(4); }, command({0, 0, 0, 2}),
         {false, false, false, true}},
        {"all on", nullptr, [](panel_controller& c) { c.openall_Click(); }, command({2, 2, 2, 2}),
         {true, true, true, true}},
        {"relay 3 off after all on", [](panel_controller& c) { c.openall_Click(); },
         [](panel_controller& c) { c.close_Click(3); }, command({0, 0, 1, 0}), {true, true, false, true}},
        {"all off after all on", [](panel_controller& c) { c.openall_Click(); },
         [](panel_controller& c) { c.closeall_Click(); }, command({1, 1, 1, 1}), {false, false, false, false}},
    };
    return rows;
}

}  // namespace

class panel_session_test : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testing::live_board_rig> rig;
    std::unique_ptr<panel_controller> presenter;

    panel_controller& panel() { return *presenter; }
    pty_board& board() { return rig->board(); }

    bool indicators_read(const std::array<std::string, relay_count>& captions)
    {
        for (int i = 0; i < relay_count; ++i) {
            const auto& label = panel().controls().Label6[i];
            if (label.caption != captions[i])
                return false;
            const auto colour = captions[i] == caption_on    ? colour_green
                                : captions[i] == caption_off ? colour_red
                                                             : colour_black;
            if (label.colour != colour)
                return false;
        }
        return true;
    }

    bool indicators_show(const std::array<bool, relay_count>& relays)
    {
        std::array<std::string, relay_count> captions;
        for (int i = 0; i < relay_count; ++i)
            captions[i] = relays[i] ? caption_on : caption_off;
        return indicators_read(captions);
    }

    void connect_to(const std::string& port = {})
    {
        panel().set_chuankou_num_text(port.empty() ? rig->port() : port);
        panel().open_comm_Click();
        QCOMPARE(panel().controls().open_comm.caption, caption_disconnect);
        QVERIFY(rig->session().timer().is_active());
    }

    // Connected and shown the board's first answer.
    void connect_and_settle()
    {
        connect_to();
        QTRY_VERIFY_WITH_TIMEOUT(indicators_show(board().relays()), deadline_ms);
    }

private slots:
    void init()
    {
        rig = std::make_unique<testing::live_board_rig>();
        presenter = std::make_unique<panel_controller>(rig->core());
        presenter->Form_Load();
    }

    void cleanup()
    {
        presenter.reset();
        rig.reset();
    }

    void polls_about_ten_times_a_second()
    {
        connect_and_settle();
        // A loaded machine may run one tick late and the next on time, so a
        // short gap between two frames proves no burst; frames against the
        // session's own ticks do.
        std::size_t ticks = 0;
        const auto tick_watch = connect(&rig->session().timer(), &poll_ticker::timeout, this, [&] { ++ticks; });
        const auto first = board().frame_count();
        QVERIFY(run_event_loop_for(2000));
        const auto counted = board().frame_count() - first;
        disconnect(tick_watch);
        qInfo("frames in 2 s: %zu, ticks: %zu", counted, ticks);
        QVERIFY2(counted >= 17 && counted <= 23, qPrintable(QString("%1 frames in 2 s").arg(counted)));
        // One may be on the line as the window opens.
        QVERIFY2(counted <= ticks + 1, qPrintable(QString("%1 frames in %2 ticks").arg(counted).arg(ticks)));

        const auto log = board().received_frames();
        QVERIFY(log.size() >= counted + 1);
        std::vector<double> gaps;
        for (std::size_t i = log.size() - counted; i < log.size(); ++i)
            gaps.push_back(std::chrono::duration<double, std::milli>(log[i].arrival - log[i - 1].arrival).count());
        const auto [shortest, longest] = std::minmax_element(gaps.begin(), gaps.end());
        qInfo("intervals between frames: %.1f to %.1f ms", *shortest, *longest);
        QVERIFY2(*longest <= 160.0, qPrintable(QString("an interval of %1 ms").arg(*longest)));
        // With nothing clicked every frame is the status query.
        for (const auto& f : log)
            QCOMPARE(f.bytes, encode_command(1, status_query));
    }

    void command_goes_out_on_the_next_tick_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < command_rows().size(); ++i)
            QTest::newRow(command_rows()[i].name) << static_cast<int>(i);
    }

    void command_goes_out_on_the_next_tick()
    {
        QFETCH(int, row);
        const auto& r = command_rows()[static_cast<std::size_t>(row)];
        connect_and_settle();
        if (r.before) {
            r.before(panel());
            QTRY_VERIFY_WITH_TIMEOUT(indicators_show({true, true, true, true}), deadline_ms);
        }
        const auto clicked = std::chrono::steady_clock::now();
        r.click(panel());
        QTRY_VERIFY_WITH_TIMEOUT(board().relays() == r.relays, deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(indicators_show(r.relays), deadline_ms);

        const auto log = board().received_frames();
        const auto sent = std::find_if(log.begin(), log.end(), [&](const auto& f) { return f.bytes == r.sent; });
        QVERIFY(sent != log.end());
        QCOMPARE(std::count_if(log.begin(), log.end(), [&](const auto& f) { return f.bytes == r.sent; }), 1L);
        // One tick at most, with room for a loaded machine.
        const auto delay = std::chrono::duration<double, std::milli>(sent->arrival - clicked).count();
        qInfo("click to frame on the line: %.1f ms", delay);
        QVERIFY2(delay <= 160.0, qPrintable(QString("%1 ms").arg(delay)));
        // The very next frame is the query again: the command goes out once.
        const auto sent_index = static_cast<std::size_t>(sent - log.begin());
        QTRY_VERIFY_WITH_TIMEOUT(board().received_frames().size() >= sent_index + 2, deadline_ms);
        QCOMPARE(board().received_frames()[sent_index + 1].bytes, encode_command(1, status_query));
    }

    void indicator_2_reads_on_in_green()
    {
        connect_and_settle();
        panel().open_Click(2);
        QTRY_VERIFY_WITH_TIMEOUT(board().relays()[1], deadline_ms);
        QTRY_COMPARE_WITH_TIMEOUT(panel().controls().Label6[1].caption, caption_on, deadline_ms);
        QCOMPARE(panel().controls().Label6[1].colour, colour_green);
        QCOMPARE(panel().controls().Label6[0].caption, caption_off);
        QCOMPARE(panel().controls().Label6[0].colour, colour_red);
    }

    void silent_board_falls_back_to_state_within_seven_ticks()
    {
        connect_and_settle();
        board().set_silent(true);
        const auto silenced_at = board().frame_count();
        QTRY_VERIFY_WITH_TIMEOUT(indicators_read({caption_state, caption_state, caption_state, caption_state}),
                                 deadline_ms);
        const auto ticks = board().frame_count() - silenced_at;
        qInfo("frames between silence and fallback: %zu", ticks);
        // Five silent ticks are allowed; the sixth falls back. One more for
        // the frame already on its way and the polling of this check.
        QVERIFY2(ticks >= 5 && ticks <= 7, qPrintable(QString("%1 ticks").arg(ticks)));
        // Polling goes on while silent, and the first answer brings them back.
        board().set_silent(false);
        QTRY_VERIFY_WITH_TIMEOUT(indicators_show(board().relays()), deadline_ms);
    }

    void disconnect_stops_frames_and_reconnect_resumes_them()
    {
        connect_and_settle();
        panel().open_comm_Click();
        QCOMPARE(panel().controls().open_comm.caption, caption_connect);
        QVERIFY(!rig->session().timer().is_active());
        // A frame already written may still be on its way to the board.
        QVERIFY(run_event_loop_for(300));
        const auto stopped = board().frame_count();
        QVERIFY(run_event_loop_for(700));
        QCOMPARE(board().frame_count(), stopped);
        // Disconnecting leaves the colours be; only the captions go back.
        for (const auto& label : panel().controls().Label6) {
            QCOMPARE(label.caption, caption_state);
            QVERIFY(!label.enabled);
        }

        connect_to();
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= stopped + 5, deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(indicators_show(board().relays()), deadline_ms);
    }

    void unplugged_board_is_found_again_under_the_same_name()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto link = dir.filePath("relay-board").toStdString();
        board().set_link_path(link);
        connect_to(link);
        QTRY_VERIFY_WITH_TIMEOUT(indicators_show(board().relays()), deadline_ms);

        board().close_line();
        QTRY_VERIFY_WITH_TIMEOUT(panel().port_lost(), deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(indicators_read({caption_state, caption_state, caption_state, caption_state}),
                                 deadline_ms);
        // Still connected as far as the operator is concerned.
        QCOMPARE(panel().controls().open_comm.caption, caption_disconnect);

        const auto before = board().frame_count();
        board().reopen_line();
        QTRY_VERIFY_WITH_TIMEOUT(!panel().port_lost(), deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(board().frame_count() >= before + 3, deadline_ms);
        QTRY_VERIFY_WITH_TIMEOUT(indicators_show(board().relays()), deadline_ms);
    }
};

}  // namespace relay

QTEST_GUILESS_MAIN(relay::panel_session_test)
#include "panel_session_test.moc"
