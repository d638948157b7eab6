#include "memory.h"

#include <gmp.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "cgroup.h"
#include "fatal_line.h"
#include "unfinished_file.h"

#ifdef PI_CHECK_RELEASE_SIZE
// The sanitizer runtime's record of a live block's requested size.
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif

namespace {

// Fitted to measured peaks (see the README's memory table), with a margin.
constexpr double AGMPI_BYTES_PER_DIGIT = 6.6;

constexpr double MIB = 1024.0 * 1024.0, GIB = 1024.0 * MIB;

// Bytes for a message: "61.5 GiB", or "34.9 MiB" below a GiB, where a
// process limit may be.
struct Amount {
    char text[32];
    explicit Amount(double bytes) {
        if (bytes >= GIB)
            std::snprintf(text, sizeof text, "%.1f GiB", bytes / GIB);
        else
            std::snprintf(text, sizeof text, "%.1f MiB", bytes / MIB);
    }
};

// The kB values of /proc/meminfo's fields, as bytes; false where the file is
// missing or lacks MemTotal.
bool read_meminfo(MachineMemory* machine) {
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
    machine->ram = mem_total * 1024;
    machine->swap = swap_total * 1024;
    machine->free = (mem_available + swap_free) * 1024;
    return true;
}

// A resource limit's soft value in bytes, 0 where there is none.
double read_rlimit(int resource) {
    struct rlimit limit;
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<double>(limit.rlim_cur);
}

// The smallest memory limit on the process's control group and its
// ancestors, bytes, 0 where none is set; *file names the file read.
double read_cgroup_limit(const char** file) {
    double smallest = 0;
    visit_cgroup_dirs("memory", [&](bool v2, const std::string& dir) {
        // "max" (version 2) or about 2^63 (version 1) is no limit.
        const char* name = v2 ? "memory.max" : "memory.limit_in_bytes";
        const std::string value = cgroup_value(dir, name);
        if (value.empty() || value == "max") return;
        const double bytes = std::strtod(value.c_str(), nullptr);
        if (bytes > 0 && bytes < 0x1p60 && (smallest == 0 || bytes < smallest)) {
            smallest = bytes;
            *file = name;
        }
    });
    return smallest;
}

const char* program_name = "pi";

void out_of_memory(size_t size) {
    print_fatal_line("%s: out of memory: could not allocate %zu bytes\n", program_name, size);
    remove_unfinished_file();
    print_resume_line();
    std::_Exit(1);
}

// The program's own blocks (operator new), whose size the handler is not told.
void out_of_memory_in_new() {
    print_fatal_line("%s: out of memory\n", program_name);
    remove_unfinished_file();
    print_resume_line();
    std::_Exit(1);
}

#ifdef PI_CHECK_RELEASE_SIZE
// The library hands back each block with the size it believes it has; an
// allocator may rely on that. The sanitizer's allocator knows the true size.
void check_size(void* block, size_t size) {
    const size_t allocated = __sanitizer_get_allocated_size(block);
    if (allocated != size) {
        std::fprintf(stderr, "%s: a block of %zu bytes released as %zu bytes\n", program_name,
                     allocated, size);
        std::abort();
    }
}
#else
void check_size(void*, size_t) {}
#endif

// The last large block released is kept for the next allocation of just
// its size: the library's scratch for products of one size comes and goes
// product after product (every AGM iteration's), and the system zeroes each
// page of a block it maps afresh, a large share of a long run's time. Any
// other large allocation hands the kept block back first, so that what is
// resident at a peak is what it would be without it.
constexpr size_t KEEP_FROM = size_t{16} << 20;
std::mutex kept_mutex;
void* kept_block = nullptr;
size_t kept_size = 0;

// The kept block where it is `size` bytes; else none, and the kept one freed.
void* take_kept(size_t size) {
    void* other;
    {
        std::lock_guard<std::mutex> lock(kept_mutex);
        other = kept_block;
        kept_block = nullptr;
        if (other && kept_size == size) return other;
    }
    std::free(other);
    return nullptr;
}

void* allocate(size_t size) {
    if (size >= KEEP_FROM) {
        if (void* block = take_kept(size)) return block;
    }
    void* block = std::malloc(size);
    if (!block && size > 0) out_of_memory(size);
    return block;
}

void* reallocate(void* block, size_t old_size, size_t size) {
    check_size(block, old_size);
    if (size >= KEEP_FROM) std::free(take_kept(0));
    void* moved = std::realloc(block, size);
    if (!moved && size > 0) out_of_memory(size);
    return moved;
}

void release(void* block, size_t size) {
    check_size(block, size);
    if (size < KEEP_FROM) {
        std::free(block);
        return;
    }
    void* other;
    {
        std::lock_guard<std::mutex> lock(kept_mutex);
        other = kept_block;
        kept_block = block;
        kept_size = size;
    }
    std::free(other);
}

}  // namespace

double agmpi_peak_bytes(long long digits, bool fast) {
    // Six numbers of P bits (0.415 bytes a digit each) and a product's
    // scratch: at most 5.5 bytes a digit beyond the fixed part measured
    // from 10^7 to 10^9 digits, printed or not; 6.6 leaves 20 %.
    return fast_peak_bytes(AGMPI_BYTES_PER_DIGIT * static_cast<double>(digits) + FIXED_PEAK_BYTES, fast);
}

MachineMemory machine_memory() {
    MachineMemory machine{0, 0, 0, 0, 0, 0, ""};
    if (!read_meminfo(&machine)) {
        const long page = sysconf(_SC_PAGESIZE), pages = sysconf(_SC_PHYS_PAGES),
                   free_pages = sysconf(_SC_AVPHYS_PAGES);
        if (page > 0 && pages > 0) {
            machine.ram = static_cast<double>(page) * static_cast<double>(pages);
            machine.free = free_pages > 0 ? static_cast<double>(page) * static_cast<double>(free_pages)
                                          : machine.ram;
        }
    }
    machine.address_space = read_rlimit(RLIMIT_AS);
    machine.data = read_rlimit(RLIMIT_DATA);
    machine.cgroup = read_cgroup_limit(&machine.cgroup_file);
    return machine;
}

MemoryLimit memory_limit(const MachineMemory& machine) {
    MemoryLimit limit{0, "", ""};
    const auto bind = [&limit](double bytes, const char* holder, const char* name) {
        if (bytes > 0 && (limit.bytes == 0 || bytes < limit.bytes)) limit = {bytes, holder, name};
    };
    bind(machine.ram > 0 ? machine.ram + machine.swap : 0, "this machine has", "memory and swap");
    bind(machine.address_space, "the process may use", "ulimit -v");
    bind(machine.data, "the process may use", "ulimit -d");
    bind(machine.cgroup, "its control group may use", machine.cgroup_file);
    bind(machine.budget, "the run may use", machine.budget_option);
    return limit;
}

bool memory_suffices(const char* program, long long digits, double peak_bytes,
                     const MachineMemory& machine) {
    const MemoryLimit limit = memory_limit(machine);
    if (limit.bytes > 0 && peak_bytes > limit.bytes) {
        std::fprintf(stderr, "%s: %lld digits need about %s of memory; %s %s (%s)\n", program,
                     digits, Amount(peak_bytes).text, limit.holder, Amount(limit.bytes).text,
                     limit.name);
        return false;
    }
    if (machine.ram > 0 && peak_bytes > machine.ram)
        std::fprintf(stderr,
                     "%s: warning: %lld digits need about %s of memory, more than the %s of "
                     "physical memory: the run will page heavily\n",
                     program, digits, Amount(peak_bytes).text, Amount(machine.ram).text);
    else if (machine.free > 0 && peak_bytes > machine.free)
        std::fprintf(stderr, "%s: warning: %lld digits need about %s of memory; %s is free now\n",
                     program, digits, Amount(peak_bytes).text, Amount(machine.free).text);
    return true;
}

void exit_when_memory_runs_out(const char* program) {
    program_name = program;
    mp_set_memory_functions(allocate, reallocate, release);
    std::set_new_handler(out_of_memory_in_new);
}

void release_free_memory() {
    std::free(take_kept(0));
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void reuse_freed_memory() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}
