#pragma once
// Memory: what the machine has, whether a run's estimated peak fits it, and a
// clean end when the library cannot get memory mid-run.

// Bytes of memory and swap the machine has in all, and of those, how many are
// free now (available memory plus free swap).
struct MachineMemory {
    double total;
    double free;
};

// From /proc/meminfo, or from sysconf where that cannot be read (no swap then).
// A total of 0 means neither could tell.
MachineMemory machine_memory();

// Estimated peak resident memory of a run, bytes, digits printed or not: a
// fit to peaks measured from 10^6 to 10^9 digits, erring on the large side.
double agmpi_peak_bytes(long long digits);
double bsplitpi_peak_bytes(long long digits, int threads);

// Compares a run's estimated peak with the machine. Above its total: one line
// on stderr naming both, and false (the run must not start). Above what is
// free now: one warning line on stderr, and true. Otherwise silent and true.
bool memory_suffices(const char* program, long long digits, double peak_bytes,
                     const MachineMemory& machine);

// From here on an allocation the library cannot satisfy prints one line on
// stderr naming the program and the size asked for, and exits with status 1.
void exit_when_memory_runs_out(const char* program);

// Hands the pages of freed blocks back to the system. Each thread allocates
// from its own pool, a pool keeps what its thread freed, and a heap keeps the
// pages of blocks freed below a live one: without this, memory freed before
// a run's peak could stay resident through it.
void release_free_memory();
