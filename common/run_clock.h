#pragma once
// The reports' clock: CPU time of the process (clock()) for a run on one
// thread; wall-clock time for a run on several, where CPU time would add up
// the threads. Both tick RUN_CLOCK_TICKS times a second.

#include <chrono>
#include <ctime>

constexpr long long RUN_CLOCK_TICKS = CLOCKS_PER_SEC;

inline bool& run_clock_is_wall() {
    static bool wall = false;
    return wall;
}

inline long long run_clock() {
    if (!run_clock_is_wall()) return static_cast<long long>(std::clock());
    using namespace std::chrono;
    return duration_cast<duration<long long, std::ratio<1, RUN_CLOCK_TICKS>>>(steady_clock::now().time_since_epoch())
        .count();
}

inline double run_clock_seconds(long long ticks) { return static_cast<double>(ticks) / RUN_CLOCK_TICKS; }
