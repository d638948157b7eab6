#include "threads.h"

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "arguments.h"

int available_cores() {
#ifdef CPU_COUNT
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

bool read_thread_count(const char* program, const char* text, int* threads) {
    const long long value = read_number(text);
    if (value < 0 || value > MAX_THREADS) {
        std::fprintf(stderr, "%s: threads must be from 0 (every core) to %d, got \"%s\"\n", program,
                     MAX_THREADS, text);
        return false;
    }
    *threads = value == 0 ? std::min(available_cores(), MAX_THREADS) : static_cast<int>(value);
    return true;
}
