#include "session/session_thread.h"

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
    QMetaObject::invokeMethod(own.context.get(), work, Qt::BlockingQueuedConnection);
}

}  // namespace relay
