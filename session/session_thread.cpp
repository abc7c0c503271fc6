#include "session/session_thread.h"

#include <condition_variable>
#include <mutex>

namespace relay {

session_thread::session_thread(const setup& extras)
{
    thread.setObjectName(QStringLiteral("relay session"));
    context = std::make_unique<QObject>();
    context->moveToThread(&thread);
    thread.start();
    run([this, &extras] {
        session_ = std::make_unique<panel_session>();
        if (extras)
            extras_ = extras(*session_);
    });
}

session_thread::~session_thread()
{
    // QObjects go on the thread they live on: timers and notifiers cannot be
    // stopped from another.
    run([this] {
        extras_.reset();
        session_.reset();
    });
    thread.quit();
    thread.wait();
}

void session_thread::run(const std::function<void()>& work)
{
    if (QThread::currentThread() == &thread) {
        work();
        return;
    }
    // A condition variable rather than Qt's blocking connection: the same
    // wait, but one that race detectors can follow from the session's
    // thread back to the caller. Shared, because the session's thread still
    // holds it for a moment after waking the caller.
    struct handshake {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
    };
    const auto shake = std::make_shared<handshake>();
    QMetaObject::invokeMethod(
        context.get(),
        [shake, &work] {
            work();
            const std::lock_guard<std::mutex> guard(shake->lock);
            shake->done = true;
            shake->finished.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> waiting(shake->lock);
    shake->finished.wait(waiting, [&shake] { return shake->done; });
}

}  // namespace relay
