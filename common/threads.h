#pragma once
// How many threads a run may use, from the command line and the machine.

// Most threads a run may ask for; every one is a real thread of the
// splitting's top levels, so more would only cost memory and switching.
constexpr int MAX_THREADS = 1024;

// Cores this process may run on (its affinity mask), at least 1.
int available_cores();

// Reads the thread count: 0 is every available core, 1 to MAX_THREADS that
// many. Anything else prints one line on stderr naming the accepted range
// and returns false.
bool read_thread_count(const char* program, const char* text, int* threads);
