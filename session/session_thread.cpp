#include "session/session_thread.h"

#include <condition_variable>
#include <mutex>

namespace relay {

session_thread::session_thread(const setup& extras)
{
    own.thread.setObjectName(QStringLiteral("relay session"));
    own.context = std::make_unique<QObject>();
    own.context->moveToThread(&own.thread);
    own.thread.start();
    run([this, &extras] {
        own.session = std::make_unique<panel_session>();
        if (extras)
            own.extras = extras(*own.session);
    });
}

session_thread::~session_thread()
{
    // QObjects go on the thread they live on: timers and notifiers cannot be
    // stopped from another.
    run([this] {
        own.extras.reset();
        own.session.reset();
    });
    own.thread.quit();
    own.thread.wait();
}

void session_thread::run(const std::function<void()>& work)
{
    if (QThread::currentThread() == &own.thread) {
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
        own.context.get(),
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
