// Shows the real window over a real session, connected through a pseudo
// terminal to the simulated board, and saves a picture of the screen in
// each state the operator meets: disconnected, connected with relays on
// and off, with the board fallen silent, and attached to relayd when relayd
// owns the board's port.
//
//     relay-panel-screenshots OUTPUT_DIRECTORY [PREFIX]
//
// PREFIX goes before each file name, so that runs on other desktops (a
// dark scheme, a scaled screen) keep their pictures apart.

#include "app/owner_attachment.h"
#include "sim/pty_board.h"
#include "ui/clickable_label.h"
#include "ui/main_form.h"
#include "session/panel_session.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

// Runs the event loop until the condition holds or the time is up.
bool wait_for(const std::function<bool()>& condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Lets painting and the window system catch up: runs the loop for a while.
void settle(int milliseconds) { wait_for([] { return false; }, milliseconds); }

bool indicators_read(const relay::main_form& form, const QStringList& captions)
{
    for (int i = 0; i < relay::relay_count; ++i)
        if (form.widgets().Label6[i]->text() != captions[i])
            return false;
    return true;
}

bool save(const QWidget& form, const QString& path)
{
    // The window with its frame, if a window manager drew one, and a
    // margin of desktop around it.
    const QRect frame = form.frameGeometry().adjusted(-8, -8, 8, 8);
    const QPixmap shot =
        QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: relay-panel-screenshots OUTPUT_DIRECTORY [PREFIX]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString prefix = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();

    relay::pty_board board;
    relay::panel_session session;
    session.catalog().add_leading_port({board.slave_path(), "simulated relay board"});
    relay::panel_controller logic(session.core());
    relay::owner_attachment attachment;
    logic.set_board_owner(&attachment);
    relay::main_form form(logic, session.catalog());
    form.move(40, 40);
    form.show();
    form.activateWindow();
    if (!wait_for([&] { return form.isActiveWindow(); }, 3000))
        std::fprintf(stderr, "the window never became active; taking the pictures anyway\n");
    // A window manager starting alongside may frame the window a moment later.
    if (!wait_for([&] { return form.frameGeometry() != form.geometry(); }, 2000))
        std::fprintf(stderr, "no window frame: the pictures show the client area only\n");
    settle(500);
    bool ok = save(form, out.filePath(prefix + QStringLiteral("disconnected.png")));

    const auto& w = form.widgets();
    w.open_comm->click();
    if (!wait_for([&] { return form.widgets().Label6[0]->text() != QStringLiteral("state"); }, 5000)) {
        std::fprintf(stderr, "the simulated board did not answer\n");
        return 1;
    }
    // From a known start, whatever the board held before.
    w.closeall->click();
    if (!wait_for([&] { return indicators_read(form, {"off", "off", "off", "off"}); }, 3000)) {
        std::fprintf(stderr, "the simulated board did not answer\n");
        return 1;
    }
    // On, off, on, off: each through its own button, one per tick.
    for (int i = 0; i < relay::relay_count; i += 2) {
        w.open[i]->click();
        QStringList expected{"on", "off", "off", "off"};
        for (int j = 0; j <= i; j += 2)
            expected[j] = QStringLiteral("on");
        if (!wait_for([&] { return indicators_read(form, expected); }, 3000)) {
            std::fprintf(stderr, "relay %d did not switch on\n", i + 1);
            return 1;
        }
    }
    settle(300);
    ok = save(form, out.filePath(prefix + QStringLiteral("connected.png"))) && ok;

    board.set_silent(true);
    if (!wait_for([&] { return indicators_read(form, {"state", "state", "state", "state"}); }, 3000)) {
        std::fprintf(stderr, "the indicators did not fall back to \"state\"\n");
        return 1;
    }
    settle(300);
    ok = save(form, out.filePath(prefix + QStringLiteral("silent.png"))) && ok;

    // relayd takes the port the window lets go of; "connect" then attaches.
    board.set_silent(false);
    w.open_comm->click();
    QProcess relayd;
    relayd.setProcessChannelMode(QProcess::MergedChannels);
    relayd.start(QStringLiteral(RELAYD_PATH), {QStringLiteral("--port"), QString::fromStdString(board.slave_path())});
    QByteArray said;
    if (!wait_for([&] { return (said += relayd.readAll()).contains("answering"); }, 5000)) {
        std::fprintf(stderr, "relayd did not start polling: %s\n", said.constData());
        return 1;
    }
    w.open_comm->click();
    if (!wait_for([&] { return form.windowTitle().contains(QStringLiteral("through relayd")); }, 5000)) {
        std::fprintf(stderr, "the window did not attach to relayd\n");
        return 1;
    }
    w.open[1]->click();
    if (!wait_for([&] { return indicators_read(form, {"on", "on", "on", "off"}); }, 3000)) {
        std::fprintf(stderr, "relay 2 did not switch on through relayd\n");
        return 1;
    }
    settle(300);
    ok = save(form, out.filePath(prefix + QStringLiteral("attached.png"))) && ok;
    w.open_comm->click();
    relayd.terminate();
    relayd.waitForFinished(5000);
    return ok ? 0 : 1;
}
