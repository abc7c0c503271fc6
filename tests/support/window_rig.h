#pragma once
// The real window over a real session, the session and the window's logic
// either on the window's thread or on a thread of their own as relay-panel
// runs them, so that every end-to-end case holds both ways. Tests reach the
// session only through in_session(), which waits for the session's thread.

#include "panel/panel_controller.h"
#include "session/panel_session.h"
#include "ui/main_form.h"
#include "ui/threaded_panel.h"

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
            panel_on_thread =
                std::make_unique<threaded_panel>([this, &make](panel_session& s) -> std::shared_ptr<void> {
                    std::shared_ptr<QObject> made = make ? make(s) : nullptr;
                    extra = made.get();
                    return made;
                });
            auto& session = panel_on_thread->session;
            form = std::make_unique<main_form>(panel_on_thread->logic(), session.catalog(), &session);
        } else {
            shared.session = std::make_unique<panel_session>();
            shared.logic = std::make_unique<panel_controller>(shared.session->core());
            if (make)
                shared.extra = make(*shared.session);
            extra = shared.extra.get();
            form = std::make_unique<main_form>(*shared.logic, shared.session->catalog());
        }
    }

    // The window goes first: it leaves the logic's views on the way.
    ~window_rig()
    {
        form.reset();
        shared.extra.reset();
        shared.logic.reset();
        shared.session.reset();
        panel_on_thread.reset();
    }

    main_form& window() { return *form; }

    void in_session(const std::function<void(panel_session&)>& work)
    {
        if (panel_on_thread)
            panel_on_thread->session.run([&] { work(panel_on_thread->session.session()); });
        else
            work(*shared.session);
    }

    // The window's logic, on the session's thread.
    void in_logic(const std::function<void(panel_controller&)>& work)
    {
        if (panel_on_thread)
            panel_on_thread->session.run([&] { work(panel_on_thread->logic()); });
        else
            work(*shared.logic);
    }

    // What `extras` made, to be touched only inside in_session().
    template <typename T>
    T* made() const
    {
        return qobject_cast<T*>(extra);
    }

private:
    std::unique_ptr<threaded_panel> panel_on_thread;
    // The session and the logic on the window's thread.
    struct {
        std::unique_ptr<panel_session> session;
        std::unique_ptr<panel_controller> logic;
        std::unique_ptr<QObject> extra;
    } shared;
    QObject* extra = nullptr;
    std::unique_ptr<main_form> form;
};

}  // namespace relay::testing
