#pragma once
// Runs the built relayctl as a child process, the way a script would.

#include <QString>
#include <QtGlobal>
#include <QStringList>

#include <chrono>
#include <memory>

namespace relay::cli::testing {

struct relayctl_run {
    bool finished = false;  // false: it hung past the limit and was killed
    int exit_code = -1;
    QString out;
    QString err;
    std::chrono::milliseconds took{0};
};

class relayctl_process {
public:
    // Starts relayctl and returns at once; finish() collects the result.
    // Standard output goes to stdout_file when one is named.
    explicit relayctl_process(const QStringList& args, const QString& stdout_file = {});
    ~relayctl_process();
    relayctl_process(const relayctl_process&) = delete;
    relayctl_process& operator=(const relayctl_process&) = delete;

    relayctl_run finish(std::chrono::milliseconds limit = std::chrono::milliseconds{20000});
    // The same, but the test's event loop keeps running meanwhile, for when
    // relayctl talks to a server in the test itself.
    relayctl_run finish_serving(std::chrono::milliseconds limit = std::chrono::milliseconds{20000});
    // Waits, serving, until relayctl has printed this many lines.
    bool wait_for_lines(int lines, std::chrono::milliseconds limit);
    // Its process id, which the owner of the port logs with its commands.
    qint64 pid() const;

private:
    relayctl_run collect(bool finished);
    struct impl;
    std::unique_ptr<impl> self;
};

// Starts relayctl and waits for it.
relayctl_run run_relayctl(const QStringList& args);

}  // namespace relay::cli::testing
