#pragma once
// How many threads a run may use, from the command line and the machine.

#include <string>

// Most threads a run may ask for.
constexpr int MAX_THREADS = 1024;

// Cores this process may run on: its affinity mask, and where its control
// group sets a CPU quota, that quota rounded up; at least 1.
int available_cores();

// The same from the affinity mask's count and a quota in cores (0: none).
int cores_allowed(int affinity, double quota);

// The CPU quota of the process's control group and its ancestors, in cores
// (the smallest quota / period), 0 where none is set.
double cgroup_cpu_quota();

// One group's quota in cores from its files' words: version 2's cpu.max
// ("QUOTA PERIOD", or "max PERIOD": none), version 1's cpu.cfs_quota_us and
// cpu.cfs_period_us (a quota of -1: none); 0 where none is set.
double cpu_quota_cores(const std::string& quota, const std::string& period);

// Reads a thread count as `name` ("--threads" or "threads"): decimal digits
// alone, 0 to MAX_THREADS, 0 being every available core. Anything else
// prints one line on stderr naming the accepted range and returns false.
bool read_thread_count(const char* program, const char* name, const char* text, int* threads);

// The threads a run asking for `threads` gets: no more than `cores`. Where
// that lowers the count, one warning line on stderr says so.
int threads_within(const char* program, int threads, int cores);
