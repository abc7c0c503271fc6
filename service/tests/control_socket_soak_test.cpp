// Four clients send commands without pause for ten seconds while a fifth
// watches, all on real sockets to the real session and the simulated board:
// one frame per tick throughout, every command answered once and carried
// out once, none lost. Slow by design (label "slow").

#include "event_loop_window.h"
#include "live_board_rig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <map>
#include <memory>

namespace relay {
namespace {

using testing::run_event_loop_for;

constexpr int deadline_ms = 5000;
constexpr int soak_ms = 10000;
constexpr int commanders = 4;

// Sends the next request as soon as the previous one is answered. Client k
// owns relay k + 1, so every command it sends must be confirmed.
struct commander {
    int relay = 1;
    QLocalSocket socket;
    bool running = true;
    int next_id = 0;
    int sent_commands = 0;  // those that put a set frame on the line
    std::map<int, int> replies_per_id;
    int refusals = 0;
    bool relay_on = false;  // as this client last commanded it
    std::string last_error;

    void send_next()
    {
        const int id = next_id++;
        QJsonObject request{{"id", id}};
        switch (id % 4) {
        case 0:
            request.insert("cmd", "on");
            relay_on = true;
            break;
        case 1:
            request.insert("cmd", "off");
            relay_on = false;
            break;
        case 2:
            request.insert("cmd", "toggle");
            relay_on = !relay_on;
            break;
        default:
            request.insert("cmd", "status");
            break;
        }
        if (id % 4 != 3) {
            request.insert("relay", relay);
            ++sent_commands;
        }
        socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    }

    void read()
    {
        while (socket.canReadLine()) {
            const auto reply = QJsonDocument::fromJson(socket.readLine()).object();
            ++replies_per_id[reply["id"].toInt(-1)];
            if (!reply["ok"].toBool()) {
                ++refusals;
                last_error = reply["error"].toString().toStdString();
            }
            if (running)
                send_next();
        }
    }

    bool all_answered() const { return static_cast<int>(replies_per_id.size()) == next_id; }
};

}  // namespace

class control_socket_soak_test : public QObject {
    Q_OBJECT

private slots:
    void four_commanders_and_a_watcher_for_ten_seconds()
    {
        QTemporaryDir folder;
        const auto path = folder.path().toStdString() + "/soak.sock";
        testing::live_board_rig rig;
        auto& board = rig.board();
        QVERIFY(rig.connect_until_answering());
        QVERIFY(rig.serve(path).ok);

        QLocalSocket watcher;
        std::vector<QJsonObject> events;
        connect(&watcher, &QLocalSocket::readyRead, this, [&] {
            while (watcher.canReadLine())
                events.push_back(QJsonDocument::fromJson(watcher.readLine()).object());
        });
        watcher.connectToServer(QString::fromStdString(path));
        QVERIFY(watcher.waitForConnected(deadline_ms));
        watcher.write("{\"cmd\":\"watch\"}\n");

        std::vector<std::unique_ptr<commander>> clients;
        for (int k = 0; k < commanders; ++k) {
            auto c = std::make_unique<commander>();
            c->relay = k + 1;
            auto* raw = c.get();
            connect(&c->socket, &QLocalSocket::readyRead, this, [raw] { raw->read(); });
            c->socket.connectToServer(QString::fromStdString(path));
            QVERIFY(c->socket.waitForConnected(deadline_ms));
            clients.push_back(std::move(c));
        }

        // The session's own ticks over the same window: a loaded machine may
        // run a tick late and the next on time, so the gap between two
        // frames says nothing; the count of frames against ticks does.
        std::size_t ticks_in_soak = 0;
        const auto tick_watch = connect(&rig.session().timer(), &poll_ticker::timeout, this, [&] { ++ticks_in_soak; });
        const auto frames_at_start = board.frame_count();
        const auto log_start = board.received_frames().size();
        for (auto& c : clients)
            c->send_next();
        QVERIFY(run_event_loop_for(soak_ms));
        const auto frames_in_soak = board.frame_count() - frames_at_start;
        disconnect(tick_watch);
        for (auto& c : clients)
            c->running = false;
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->all_answered(); }),
                                 deadline_ms);

        // One frame per tick: about a hundred in ten seconds, and never more
        // frames than ticks (one may be on the line as the window opens).
        qInfo("frames in %d ms: %zu, ticks: %zu", soak_ms, frames_in_soak, ticks_in_soak);
        QVERIFY2(frames_in_soak >= 90 && frames_in_soak <= 110, qPrintable(QString::number(frames_in_soak)));
        QVERIFY2(frames_in_soak <= ticks_in_soak + 1,
                 qPrintable(QString("%1 frames in %2 ticks").arg(frames_in_soak).arg(ticks_in_soak)));
        const auto log = board.received_frames();
        std::size_t set_frames = 0;
        for (std::size_t i = log_start; i < log.size(); ++i)
            set_frames += log[i].bytes[2] == code_set_relays ? 1 : 0;

        // Every request answered exactly once, every command carried out once.
        int total_commands = 0;
        for (const auto& c : clients) {
            qInfo("client for relay %d: %d requests, %d commands", c->relay, c->next_id, c->sent_commands);
            QVERIFY2(c->next_id >= 10, qPrintable(QString::number(c->next_id)));
            for (const auto& [id, count] : c->replies_per_id)
                QVERIFY2(count == 1 && id >= 0 && id < c->next_id, qPrintable(QString("id %1: %2").arg(id).arg(count)));
            QVERIFY2(c->refusals == 0, c->last_error.c_str());
            QCOMPARE(board.relays()[static_cast<std::size_t>(c->relay - 1)], c->relay_on);
            total_commands += c->sent_commands;
        }
        QCOMPARE(set_frames, static_cast<std::size_t>(total_commands));

        // The watcher saw the changes, and its last event is the board's state.
        QVERIFY(events.size() >= 10);
        QTRY_VERIFY_WITH_TIMEOUT(!events.empty() && [&] {
            const auto relays = events.back()["relays"].toObject();
            for (int i = 0; i < relay_count; ++i)
                if ((relays[QString::number(i + 1)].toString() == "on") != board.relays()[static_cast<std::size_t>(i)])
                    return false;
            return events.back()["link"].toString() == "answering";
        }(), deadline_ms);
    }
};

}  // namespace relay

QTEST_GUILESS_MAIN(relay::control_socket_soak_test)
#include "control_socket_soak_test.moc"
