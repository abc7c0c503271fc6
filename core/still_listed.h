#pragma once
// Telling everyone on a list of listeners, any of which may leave the list
// while it is told.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace relay {

// Calls call(*e) for each element of list as it is now, skipping any that
// has left the list by its turn. The snapshot stays off the heap for the
// few there usually are, as this runs twice a tick.
template <typename T, typename Call>
void for_each_still_listed(const std::vector<T*>& list, Call call)
{
    constexpr std::size_t on_stack = 8;
    T* fixed[on_stack];
    std::vector<T*> spilled;
    T* const* snapshot = fixed;
    const std::size_t count = list.size();
    if (count <= on_stack) {
        std::copy(list.begin(), list.end(), fixed);
    } else {
        spilled = list;
        snapshot = spilled.data();
    }
    for (std::size_t i = 0; i < count; ++i)
        if (std::find(list.begin(), list.end(), snapshot[i]) != list.end())
            call(*snapshot[i]);
}

}  // namespace relay
