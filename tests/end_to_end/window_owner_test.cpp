// The panel as the owner of its port: with the real window connected to the
// simulated board, relayctl (a child process, as a script runs it) reaches
// the board through the panel's socket, and the window's indicator changes
// only once the board has answered.

#include "cli/exit_codes.h"
#include "relayctl_process.h"
#include "service/port_owner.h"
#include "session/panel_session.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/form_look.h"
#include "ui/main_form.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace relay {
namespace {

constexpr int deadline_ms = 5000;

class window_owner_test : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> runtime;
    std::unique_ptr<pty_board> board;
    std::unique_ptr<panel_session> session;
    std::unique_ptr<port_owner> owner;
    std::unique_ptr<main_form> window;

    const main_form_widgets& ui() const { return window->widgets(); }

    bool indicator_reads(int relay, const char* caption, std::uint32_t colour) const
    {
        const auto* label = ui().Label6[static_cast<std::size_t>(relay)];
        return label->text() == QLatin1String(caption) &&
               label->palette().color(QPalette::Active, QPalette::WindowText) == colour_from_bgr(colour);
    }

    void connect_window()
    {
        ui().chuankou_num->selectAll();
        QTest::keyClicks(ui().chuankou_num, QString::fromStdString(board->slave_path()));
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "off", colour_red), deadline_ms);
    }

private slots:
    void init()
    {
        runtime = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", runtime->path().toLocal8Bit());
        board = std::make_unique<pty_board>();
        session = std::make_unique<panel_session>();
        owner = std::make_unique<port_owner>(session->controller());
        window = std::make_unique<main_form>(session->controller(), session->catalog());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window.reset();
        owner.reset();
        session.reset();
        board.reset();
        runtime.reset();
    }

    void relayctl_on_2_turns_indicator_2_green()
    {
        QVERIFY(!owner->is_serving());
        connect_window();
        QVERIFY2(owner->is_serving(), owner->last_problem().c_str());
        QCOMPARE(owner->socket_path(), user_socket_path(board->slave_path()));

        cli::testing::relayctl_process relayctl({"--port", QString::fromStdString(board->slave_path()), "on", "2"});
        // The indicator waits for the board: never green before the board has switched.
        bool green_before_board = false;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (indicator_reads(1, "on", colour_green) && !board->relays()[1])
                    green_before_board = true;
                return board->relays()[1];
            },
            deadline_ms));
        const auto run = relayctl.finish_serving();
        QVERIFY(run.finished);
        QVERIFY2(run.exit_code == cli::exit_success, qPrintable(run.err));
        QCOMPARE(run.out, QString("1=off 2=on 3=off 4=off\n"));
        QVERIFY(!green_before_board);
        QTRY_VERIFY_WITH_TIMEOUT(indicator_reads(1, "on", colour_green), deadline_ms);
        QVERIFY(indicator_reads(0, "off", colour_red));
    }

    void disconnecting_stops_serving_and_frees_the_port_for_relayctl()
    {
        connect_window();
        const auto path = owner->socket_path();
        QVERIFY(QFileInfo::exists(QString::fromStdString(path)));
        QTest::mouseClick(ui().open_comm, Qt::LeftButton);
        QCOMPARE(ui().open_comm->text(), QString("connect"));
        QVERIFY(!owner->is_serving());
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
        // With no owner relayctl opens the port itself.
        const auto run = cli::testing::relayctl_process({"--port", QString::fromStdString(board->slave_path()), "on", "3"})
                             .finish_serving();
        QVERIFY2(run.exit_code == cli::exit_success, qPrintable(run.err));
        QVERIFY(board->relays()[2]);
    }
};

}  // namespace
}  // namespace relay

QTEST_MAIN(relay::window_owner_test)
#include "window_owner_test.moc"
