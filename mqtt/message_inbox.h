#pragma once
// Messages heard from the broker, taken by the board's side a few at a
// turn of the loop: a flood of commands must not hold the loop, and the
// board's poll on it, for longer than a few messages' work at once.

#include <algorithm>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace relay::mqtt {

struct inbox_message {
    std::string topic;
    std::string payload;
    bool retained = false;
};

class message_inbox {
public:
    // True when nobody is taking from the inbox yet: the caller then asks
    // the loop for one turn of take().
    bool put(inbox_message message)
    {
        queue.push_back(std::move(message));
        if (taking)
            return false;
        taking = true;
        return true;
    }

    // Up to `most` messages, oldest first; `more` says whether another turn
    // is wanted.
    std::vector<inbox_message> take(std::size_t most, bool& more)
    {
        const auto n = static_cast<std::ptrdiff_t>(std::min(most, queue.size()));
        std::vector<inbox_message> batch(std::make_move_iterator(queue.begin()),
                                         std::make_move_iterator(queue.begin() + n));
        queue.erase(queue.begin(), queue.begin() + n);
        more = !queue.empty();
        taking = more;
        return batch;
    }

private:
    std::deque<inbox_message> queue;
    bool taking = false;
};

}  // namespace relay::mqtt
