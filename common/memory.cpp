#include "memory.h"

#include <gmp.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Fitted to measured peaks (see the README's memory table), with a margin.
constexpr double AGMPI_BYTES_PER_DIGIT = 6.6;
constexpr double PEAK_PER_INTEGER = 7.8;
constexpr double THREADED_PEAK_PER_INTEGER = 12.8;

constexpr double GIB = 1024.0 * 1024.0 * 1024.0;

// The kB values of /proc/meminfo's fields; false where the file is missing or
// lacks MemTotal.
bool read_meminfo(double* total, double* free) {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file) return false;
    double mem_total = -1, mem_available = -1, mem_free = 0, swap_total = 0, swap_free = 0;
    char name[64];
    double kib;
    while (std::fscanf(file, "%63s %lf kB", name, &kib) == 2) {
        if (!std::strcmp(name, "MemTotal:")) mem_total = kib;
        else if (!std::strcmp(name, "MemAvailable:")) mem_available = kib;
        else if (!std::strcmp(name, "MemFree:")) mem_free = kib;
        else if (!std::strcmp(name, "SwapTotal:")) swap_total = kib;
        else if (!std::strcmp(name, "SwapFree:")) swap_free = kib;
    }
    std::fclose(file);
    if (mem_total < 0) return false;
    // Kernels before 3.14 give no MemAvailable; MemFree undercounts, which
    // errs towards a warning.
    if (mem_available < 0) mem_available = mem_free;
    *total = (mem_total + swap_total) * 1024;
    *free = (mem_available + swap_free) * 1024;
    return true;
}

const char* program_name = "pi";

void* allocate(size_t size) {
    void* block = std::malloc(size);
    if (!block && size > 0) {
        std::fprintf(stderr, "%s: out of memory: could not allocate %zu bytes\n", program_name, size);
        std::_Exit(1);
    }
    return block;
}

void* reallocate(void* block, size_t, size_t size) {
    void* moved = std::realloc(block, size);
    if (!moved && size > 0) {
        std::fprintf(stderr, "%s: out of memory: could not allocate %zu bytes\n", program_name, size);
        std::_Exit(1);
    }
    return moved;
}

void release(void* block, size_t) { std::free(block); }

}  // namespace

// What a process takes whatever the count: code, libraries, stdio, and at
// small counts the allocator's slack among blocks below its mmap threshold.
constexpr double FIXED_BYTES = 16.0 * 1024 * 1024;

double agmpi_peak_bytes(long long digits) {
    // Six numbers of P bits (0.415 bytes a digit each) and a product's
    // scratch: at most 5.5 bytes a digit beyond the fixed part measured
    // from 10^7 to 10^9 digits, printed or not; 6.6 leaves 20 %.
    return AGMPI_BYTES_PER_DIGIT * static_cast<double>(digits) + FIXED_BYTES;
}

double bsplitpi_peak_bytes(long long digits, int threads) {
    // The peak is the root combination, a multiple of the integers' size:
    // p(0, n), n = digits / 14.18 terms, has n (3 log2 n + 48.95) bits
    // (Stirling), about 1.03 bytes a digit at 10^8 and 1.12 at 10^9.
    const double n = std::max(static_cast<double>(digits) / 14.18, 2.0);
    const double integer_bytes = n * (3 * std::log2(n) + 48.95) / 8;
    // Measured from 10^7 to 10^9 digits, printed or not, the peak is at most
    // 7.04 times that with one thread; with 2 to 8 threads, where the halves'
    // combinations run side by side, 11.6 times, and a little more with
    // every doubling of the threads (13.3 at 8). 10 % on top.
    const double per_integer =
        threads > 1 ? THREADED_PEAK_PER_INTEGER + std::log2(threads) - 1 : PEAK_PER_INTEGER;
    return per_integer * integer_bytes + FIXED_BYTES;
}

MachineMemory machine_memory() {
    MachineMemory machine{0, 0};
    if (read_meminfo(&machine.total, &machine.free)) return machine;
    const long page = sysconf(_SC_PAGESIZE), pages = sysconf(_SC_PHYS_PAGES),
               free_pages = sysconf(_SC_AVPHYS_PAGES);
    if (page > 0 && pages > 0) {
        machine.total = static_cast<double>(page) * static_cast<double>(pages);
        machine.free = free_pages > 0 ? static_cast<double>(page) * static_cast<double>(free_pages)
                                      : machine.total;
    }
    return machine;
}

bool memory_suffices(const char* program, long long digits, double peak_bytes,
                     const MachineMemory& machine) {
    if (machine.total <= 0) return true;  // nothing to compare with
    if (peak_bytes > machine.total) {
        std::fprintf(stderr,
                     "%s: %lld digits need about %.1f GiB of memory; this machine has %.1f GiB "
                     "(memory and swap)\n",
                     program, digits, peak_bytes / GIB, machine.total / GIB);
        return false;
    }
    if (peak_bytes > machine.free)
        std::fprintf(stderr,
                     "%s: warning: %lld digits need about %.1f GiB of memory; %.1f GiB is free "
                     "now\n",
                     program, digits, peak_bytes / GIB, machine.free / GIB);
    return true;
}

void exit_when_memory_runs_out(const char* program) {
    program_name = program;
    mp_set_memory_functions(allocate, reallocate, release);
}

void release_free_memory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
