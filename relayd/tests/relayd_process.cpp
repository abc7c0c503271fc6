#include "relayd_process.h"

#include <csignal>

#include <sys/resource.h>

namespace relay::relayd::testing {

using clock = std::chrono::steady_clock;

relayd_process::relayd_process(const QStringList& args, const QProcessEnvironment& env, const child_setup& in_child)
{
    process.setProgram(QStringLiteral(RELAYD_PATH));
    process.setArguments(args);
    process.setProcessEnvironment(env);
    if (in_child)
        process.setChildProcessModifier(in_child);
    // waitForReadyRead() waits on the read channel; the log is on stderr.
    process.setReadChannel(QProcess::StandardError);
    process.start();
    process.waitForStarted(5000);
}

relayd_process::~relayd_process()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void relayd_process::take_output() { err += QString::fromUtf8(process.readAllStandardError()); }

const QString& relayd_process::log()
{
    take_output();
    return err;
}

bool relayd_process::wait_for_log(const QRegularExpression& pattern, std::chrono::milliseconds deadline)
{
    const auto until = clock::now() + deadline;
    for (;;) {
        take_output();
        const auto match = pattern.match(err, scanned_to);
        if (match.hasMatch()) {
            // Later waits look past this line, so events are taken in order.
            scanned_to = static_cast<int>(match.capturedEnd());
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clock::now());
        if (left.count() <= 0 || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(static_cast<int>(left.count()));
    }
}

int relayd_process::count_log(const QRegularExpression& pattern)
{
    take_output();
    int n = 0;
    auto it = pattern.globalMatch(err);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

void relayd_process::terminate() { ::kill(static_cast<pid_t>(process.processId()), SIGTERM); }

void relayd_process::interrupt() { ::kill(static_cast<pid_t>(process.processId()), SIGINT); }

void relayd_process::kill() { ::kill(static_cast<pid_t>(process.processId()), SIGKILL); }

bool relayd_process::wait_for_exit(std::chrono::milliseconds deadline)
{
    const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(static_cast<int>(deadline.count()));
    take_output();
    return ended;
}

bool relayd_process::exited_normally() const { return process.exitStatus() == QProcess::NormalExit; }

int relayd_process::exit_code() const { return process.exitCode(); }

finished_run run_relayd(const QStringList& args, const child_setup& in_child)
{
    QProcess p;
    p.setProgram(QStringLiteral(RELAYD_PATH));
    p.setArguments(args);
    if (in_child)
        p.setChildProcessModifier(in_child);
    p.start();
    finished_run run;
    run.finished = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
    if (!run.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    run.exit_code = p.exitCode();
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

child_setup open_file_limit(unsigned long soft, unsigned long hard)
{
    return [soft, hard] {
        const rlimit limit{soft, hard};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    };
}

}  // namespace relay::relayd::testing
