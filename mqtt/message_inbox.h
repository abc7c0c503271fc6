#pragma once
// Messages handed from a broker connection's thread to the thread that
// serves the board, taken a few at a time: a flood of commands must not
// hold that thread, and the board's poll on it, for longer than a few
// messages' work at once.

#include <algorithm>
#include <cstddef>
#include <deque>
#include <mutex>
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
    // the serving thread for one turn of take().
    bool put(inbox_message message)
    {
        const std::lock_guard<std::mutex> guard(lock);
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
        const std::lock_guard<std::mutex> guard(lock);
        const auto n = std::min(most, queue.size());
        std::vector<inbox_message> batch(std::make_move_iterator(queue.begin()),
                                         std::make_move_iterator(queue.begin() + static_cast<std::ptrdiff_t>(n)));
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
        more = !queue.empty();
        taking = more;
        return batch;
    }

private:
    std::mutex lock;
    std::deque<inbox_message> queue;
    bool taking = false;
};

}  // namespace relay::mqtt
