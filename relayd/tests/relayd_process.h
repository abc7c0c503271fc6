#pragma once
// The built relayd as a child process, with its log read line by line as it
// comes, so that a test waits for an event rather than for a time.

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace relay::relayd::testing {

// Runs in the child between fork and exec, after its standard streams are
// set up: to lower a limit or take a stream away, as a shell or systemd
// might. Only async-signal-safe calls belong here.
using child_setup = std::function<void()>;

class relayd_process {
public:
    explicit relayd_process(const QStringList& args,
                            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                            const child_setup& in_child = {});
    ~relayd_process();
    relayd_process(const relayd_process&) = delete;
    relayd_process& operator=(const relayd_process&) = delete;

    // Waits until a log line matches; false at the deadline or if relayd
    // ended first.
    bool wait_for_log(const QRegularExpression& pattern,
                      std::chrono::milliseconds deadline = std::chrono::milliseconds{5000});
    // Lines matching the pattern in everything logged so far.
    int count_log(const QRegularExpression& pattern);
    const QString& log();

    void terminate();  // SIGTERM
    void interrupt();  // SIGINT, as Ctrl-C in a terminal
    void kill();       // SIGKILL
    // Waits for the end; false if it did not end by the deadline.
    bool wait_for_exit(std::chrono::milliseconds deadline = std::chrono::milliseconds{5000});
    bool exited_normally() const;
    int exit_code() const;
    qint64 pid() const { return process.processId(); }

private:
    void take_output();

    QProcess process;
    QString err;
    int scanned_to = 0;
};

// Runs relayd to its end: exit code and stderr.
struct finished_run {
    bool finished = false;
    int exit_code = -1;
    QString out;
    QString err;
};
finished_run run_relayd(const QStringList& args, const child_setup& in_child = {});

// Limits the child to at most soft open files, and hard as the most it may
// raise that to.
child_setup open_file_limit(unsigned long soft, unsigned long hard);

}  // namespace relay::relayd::testing
