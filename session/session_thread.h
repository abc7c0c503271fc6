#pragma once
// The panel's session on a thread of its own. The 100 ms poll then never
// waits behind the window's events and painting, and the window's thread
// sleeps through every tick and answer that changes nothing it shows: the
// window's event dispatch and paint pass no longer run twice a tick.
//
// The session and everything made in `setup` live on that thread: the
// window reaches the logic through run(), and nothing else may touch it.

#include "session/logic_thread.h"
#include "session/panel_session.h"

#include <QThread>

#include <functional>
#include <memory>

namespace relay {

class session_thread : public logic_thread {
public:
    // Runs on the new thread once the session exists and before run() is
    // first answered: for the objects that must share the session's thread
    // (the control socket's owner), and for ports to list ahead of the
    // system's. What it returns lives as long as the session and goes on
    // its thread.
    using setup = std::function<std::shared_ptr<void>(panel_session&)>;

    explicit session_thread(const setup& extras = {});
    // Ends the session on its own thread, then the thread.
    ~session_thread();
    session_thread(const session_thread&) = delete;
    session_thread& operator=(const session_thread&) = delete;

    // Runs work on the session's thread and returns when it is done; on
    // that thread itself, at once.
    void run(const std::function<void()>& work) override;

    // Filled in `setup` and only read afterwards, so any thread may list it.
    const port_catalog& catalog() const { return session_->catalog(); }
    // Touch it only inside run().
    panel_session& session() { return *session_; }

private:
    QThread thread;
    // Lives on the thread: what run()'s calls are queued to.
    std::unique_ptr<QObject> context;
    std::unique_ptr<panel_session> session_;
    std::shared_ptr<void> extras_;
};

}  // namespace relay
