#pragma once
// Where the panel logic runs when it is not on the window's thread. The
// window then touches the logic only inside run(), which carries the work
// over to the logic's thread and returns once it is done, so that a click
// or a keystroke has taken effect before the window goes on; and the logic's
// views hear of changes on that thread, not the window's.

#include <functional>

namespace relay {

class logic_thread {
public:
    virtual void run(const std::function<void()>& work) = 0;

protected:
    ~logic_thread() = default;
};

}  // namespace relay
