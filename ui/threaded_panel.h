#pragma once
// The board's session on a thread of its own, with the window's logic
// presenting it on that thread, as the panel program runs them: the window
// touches the logic only through session.run().

#include "panel/panel_controller.h"
#include "session/session_thread.h"

#include <memory>

namespace relay {

class threaded_panel {
public:
    // extras: made on the session's thread after the logic, for what must
    // live there too (the socket that serves the board while connected).
    explicit threaded_panel(const session_thread::setup& extras = {})
        : session([this, &extras](panel_session& s) -> std::shared_ptr<void> {
              auto made = std::make_shared<on_thread>(s.core());
              presenter = &made->logic;
              if (extras)
                  made->extras = extras(s);
              return made;
          })
    {}

    // Touch it only inside session.run().
    panel_controller& logic() { return *presenter; }

private:
    struct on_thread {
        explicit on_thread(board_core& board) : logic(board) {}
        panel_controller logic;
        std::shared_ptr<void> extras;
    };
    // Before the session, which sets it while it is made.
    panel_controller* presenter = nullptr;

public:
    session_thread session;
};

}  // namespace relay
