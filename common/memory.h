#pragma once
// Memory: what bounds the process, whether a run's estimated peak fits it, and
// a clean end when the library cannot get memory mid-run.

// Every bound on the process's memory, bytes; 0 where a bound is absent or
// could not be read.
struct MachineMemory {
    double ram;            // physical memory
    double swap;           // swap space
    double free;           // memory available now plus free swap
    double address_space;  // the process's address-space limit (RLIMIT_AS, ulimit -v)
    double data;           // the process's data limit (RLIMIT_DATA, ulimit -d)
    double cgroup;         // its control group's limit, the smallest along its path
    const char* cgroup_file;  // where that limit stands: memory.max or memory.limit_in_bytes
    double budget = 0;        // the run's own bound, --memory's (0: none)
    const char* budget_option = nullptr;  // as given, "--memory=4G"
};

// From /proc/meminfo (or sysconf, without swap, where that cannot be read),
// getrlimit and the control-group files of /proc/self/cgroup.
MachineMemory machine_memory();

// The bound that binds: the smallest of memory and swap, the process's two
// limits and the control group's. bytes is 0 where none is known; `holder`
// and `name` describe it for a message ("this machine has", "memory and swap").
struct MemoryLimit {
    double bytes;
    const char* holder;
    const char* name;
};
MemoryLimit memory_limit(const MachineMemory& machine);

// What a process takes whatever the count: code, libraries, stdio, and at
// small counts the allocator's slack among blocks below its mmap threshold.
constexpr double FIXED_PEAK_BYTES = 16.0 * 1024 * 1024;

// Estimated peak resident memory of an agmpi run, bytes, digits printed or
// not: a fit to peaks measured from 10^6 to 10^9 digits, erring on the large
// side. bsplitpi's estimate is series_peak_bytes, beside its term count.
double agmpi_peak_bytes(long long digits, bool fast);

// What the engine adds to a run (--fast): its tables and kept scratch, and
// products a little wider than the library's. Measured, digits printed, 10^7
// and 10^8 digits: bsplitpi 89.7 and 723.9 MiB against 72.9 and 710.5;
// agmpi (variant 2) 72.9 and 623.6 against 59.7 and 519.1.
inline double fast_peak_bytes(double default_bytes, bool fast) {
    return fast ? 1.1 * (default_bytes - FIXED_PEAK_BYTES) + 2 * FIXED_PEAK_BYTES : default_bytes;
}

// Compares a run's estimated peak with the machine. Above the binding limit:
// one line on stderr naming the limit, and false (the run must not start).
// Above physical memory: one warning line on stderr that the run will page
// heavily, and true; else above what is free now: one warning line saying so,
// and true. Otherwise silent and true.
bool memory_suffices(const char* program, long long digits, double peak_bytes,
                     const MachineMemory& machine);

// From here on an allocation the library cannot satisfy prints one line on
// stderr naming the program and the size asked for, and exits with status 1;
// so does one of the program's own (operator new), without the size. The
// digits' unfinished temporary, if any, is removed first.
// In builds with AddressSanitizer a release told another size than the block
// was allocated with stops the program too.
void exit_when_memory_runs_out(const char* program);

// Hands the pages of freed blocks back to the system. Each thread allocates
// from its own pool, a pool keeps what its thread freed, and a heap keeps the
// pages of blocks freed below a live one: without this, memory freed before
// a run's peak could stay resident through it.
void release_free_memory();

// Blocks below 32 MiB from the allocator's heap, not fresh mappings, and up
// to 64 MiB of freed memory kept there for the next ones: fresh pages cost
// the system their zeroing, a tenth of bsplitpi's time at 10^6 and 10^7
// digits on one thread. (The allocator's own threshold rises only as far
// as blocks are freed, and each thread's pool would keep its own, with
// peaks that varied more: one thread only.) release_free_memory still
// hands everything back.
void reuse_freed_memory();
