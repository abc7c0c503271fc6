#include "loop/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <system_error>

#include <sys/signalfd.h>
#include <unistd.h>

namespace relay {
namespace {

sigset_t stop_set()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

void block_stop_signals()
{
    const sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

stop_signals::stop_signals(io_loop& loop, std::function<void(const std::string& name)> received)
    : received(std::move(received))
{
    const sigset_t set = stop_set();
    fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "signalfd");
    watch = fd_watch(loop, fd, io_loop::direction::read, [this] { readable(); });
}

stop_signals::~stop_signals()
{
    watch.reset();
    ::close(fd);
}

void stop_signals::readable()
{
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        received(info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
}

}  // namespace relay
