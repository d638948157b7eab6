#pragma once
// The reports' clock. Every reading takes both the process's CPU time
// (clock()) and wall-clock time; the report gives CPU time for a run that
// had one thread and wall-clock time for a run that had several, where CPU
// time would add up the threads. Which, is known only once the run is done
// (a thread that could not start leaves a run one thread), and is set then
// with run_clock_is_wall(). Both tick RUN_CLOCK_TICKS times a second.

#include <chrono>
#include <ctime>

constexpr long long RUN_CLOCK_TICKS = CLOCKS_PER_SEC;

struct RunTicks {
    long long cpu = 0, wall = 0;
};

inline RunTicks operator-(RunTicks a, RunTicks b) { return {a.cpu - b.cpu, a.wall - b.wall}; }
inline RunTicks& operator+=(RunTicks& a, RunTicks b) {
    a.cpu += b.cpu;
    a.wall += b.wall;
    return a;
}

inline bool& run_clock_is_wall() {
    static bool wall = false;
    return wall;
}

inline RunTicks run_clock() {
    using namespace std::chrono;
    const auto wall =
        duration_cast<duration<long long, std::ratio<1, RUN_CLOCK_TICKS>>>(steady_clock::now().time_since_epoch());
    return {static_cast<long long>(std::clock()), wall.count()};
}

inline double run_clock_seconds(RunTicks ticks) {
    return static_cast<double>(run_clock_is_wall() ? ticks.wall : ticks.cpu) / RUN_CLOCK_TICKS;
}
