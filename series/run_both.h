#pragma once
// Two pieces of work side by side.

#include <system_error>
#include <thread>

namespace series {

// Runs first on a new thread and second on this one, then waits for both.
// Where no thread can be had, runs both here, one after the other.
template <class First, class Second>
void run_both(First first, Second second) {
    std::thread helper;
    try {
        helper = std::thread(first);
    } catch (const std::system_error&) {
        first();
        second();
        return;
    }
    second();
    helper.join();
}

}  // namespace series
