#pragma once
// Two pieces of work side by side.

#include <exception>
#include <thread>

namespace series {

// Runs first on a new thread and second on this one, then waits for both.
// Where no thread can be had (none left, or no memory for one), runs both
// here, one after the other.
template <class First, class Second>
void run_both(First first, Second second) {
    std::thread helper;
    try {
        helper = std::thread(first);
    } catch (const std::exception&) {
        first();
        second();
        return;
    }
    second();
    helper.join();
}

}  // namespace series
