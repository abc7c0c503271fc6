#include "relayctl_process.h"

#include <QProcess>
#include <QTest>

namespace relay::cli::testing {

struct relayctl_process::impl {
    QProcess process;
    std::chrono::steady_clock::time_point started;
};

relayctl_process::relayctl_process(const QStringList& args, const QString& stdout_file)
    : self(std::make_unique<impl>())
{
    self->process.setProgram(QStringLiteral(RELAYCTL_PATH));
    if (!stdout_file.isEmpty())
        self->process.setStandardOutputFile(stdout_file);
    self->process.setArguments(args);
    self->started = std::chrono::steady_clock::now();
    self->process.start();
}

relayctl_process::~relayctl_process()
{
    if (self->process.state() != QProcess::NotRunning) {
        self->process.kill();
        self->process.waitForFinished(5000);
    }
}

relayctl_run relayctl_process::finish(std::chrono::milliseconds limit)
{
    // The board serves its line from its own thread, so blocking here
    // keeps nothing from answering.
    return collect(self->process.waitForFinished(static_cast<int>(limit.count())));
}

relayctl_run relayctl_process::finish_serving(std::chrono::milliseconds limit)
{
    return collect(QTest::qWaitFor([&] { return self->process.state() == QProcess::NotRunning; },
                                   static_cast<int>(limit.count())));
}

bool relayctl_process::wait_for_lines(int lines, std::chrono::milliseconds limit)
{
    return QTest::qWaitFor(
        [&] {
            self->process.setReadChannel(QProcess::StandardOutput);
            // Peeked, not read, so that collect() still gets everything.
            return self->process.peek(1 << 20).count('\n') >= lines;
        },
        static_cast<int>(limit.count()));
}

qint64 relayctl_process::pid() const
{
    self->process.waitForStarted();
    return self->process.processId();
}

relayctl_run relayctl_process::collect(bool finished)
{
    relayctl_run run;
    run.finished = finished && self->process.exitStatus() == QProcess::NormalExit;
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     self->started);
    if (!run.finished) {
        self->process.kill();
        self->process.waitForFinished(5000);
    }
    run.exit_code = self->process.exitCode();
    run.out = QString::fromUtf8(self->process.readAllStandardOutput());
    run.err = QString::fromUtf8(self->process.readAllStandardError());
    return run;
}

relayctl_run run_relayctl(const QStringList& args) { return relayctl_process(args).finish(); }

}  // namespace relay::cli::testing
