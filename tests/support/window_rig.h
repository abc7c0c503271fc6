#pragma once
// The real window over a real session, the session either on the window's
// thread or on a thread of its own as relay-panel runs it, so that every
// end-to-end case holds both ways. Tests reach the session only through
// in_session(), which waits for the session's thread.

#include "session/panel_session.h"
#include "session/session_thread.h"
#include "ui/main_form.h"

#include <QObject>

#include <functional>
#include <memory>

namespace relay::testing {

class window_rig {
public:
    // Made with the session and on its thread: what must live there.
    using extras = std::function<std::unique_ptr<QObject>(panel_session&)>;

    window_rig(bool threaded, const extras& make = {})
    {
        if (threaded) {
            threaded_session = std::make_unique<session_thread>([this, &make](panel_session& s) {
                auto made = make ? make(s) : nullptr;
                extra = made.get();
                return made;
            });
            form = std::make_unique<main_form>(threaded_session->controller(), threaded_session->catalog(),
                                               threaded_session.get());
        } else {
            shared_session = std::make_unique<panel_session>();
            if (make)
                shared_extra = make(*shared_session);
            extra = shared_extra.get();
            form = std::make_unique<main_form>(shared_session->controller(), shared_session->catalog());
        }
    }

    // The window goes first: it leaves the logic's views on the way.
    ~window_rig()
    {
        form.reset();
        shared_extra.reset();
        shared_session.reset();
        threaded_session.reset();
    }

    main_form& window() { return *form; }

    void in_session(const std::function<void(panel_session&)>& work)
    {
        if (threaded_session)
            threaded_session->run([&] { work(threaded_session->session()); });
        else
            work(*shared_session);
    }

    // What `extras` made, to be touched only inside in_session().
    template <typename T>
    T* made() const
    {
        return qobject_cast<T*>(extra);
    }

private:
    std::unique_ptr<session_thread> threaded_session;
    std::unique_ptr<panel_session> shared_session;
    std::unique_ptr<QObject> shared_extra;
    QObject* extra = nullptr;
    std::unique_ptr<main_form> form;
};

}  // namespace relay::testing
