#include "threads.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgroup.h"
#include "team.h"

int cores_allowed(int affinity, double quota) {
    int cores = affinity > 0 ? affinity : 1;
    if (quota > 0 && std::ceil(quota) < cores) cores = static_cast<int>(std::ceil(quota));
    return cores;
}

double cpu_quota_cores(const std::string& quota, const std::string& period) {
    const double q = std::strtod(quota.c_str(), nullptr), p = std::strtod(period.c_str(), nullptr);
    return quota.empty() || quota == "max" || q <= 0 || p <= 0 ? 0 : q / p;
}

double cgroup_cpu_quota() {
    double smallest = 0;
    visit_cgroup_dirs("cpu", [&](bool v2, const std::string& dir) {
        const double cores = v2 ? cpu_quota_cores(cgroup_value(dir, "cpu.max"), cgroup_value(dir, "cpu.max", 1))
                                : cpu_quota_cores(cgroup_value(dir, "cpu.cfs_quota_us"),
                                                  cgroup_value(dir, "cpu.cfs_period_us"));
        if (cores > 0 && (smallest == 0 || cores < smallest)) smallest = cores;
    });
    return smallest;
}

int available_cores() {
    static const int cores = cores_allowed(mul::affinity_cores(), cgroup_cpu_quota());
    return cores;
}

bool read_thread_count(const char* program, const char* name, const char* text, int* threads) {
    const std::size_t length = std::strlen(text);
    long n = -1;
    if (length > 0 && length <= 9 && std::strspn(text, "0123456789") == length) n = std::atol(text);
    if (n < 0 || n > MAX_THREADS) {
        std::fprintf(stderr, "%s: %s must be from 0 (every core) to %d, got \"%s\"\n", program, name, MAX_THREADS,
                     text);
        return false;
    }
    *threads = n == 0 ? (available_cores() < MAX_THREADS ? available_cores() : MAX_THREADS) : static_cast<int>(n);
    return true;
}

int threads_within(const char* program, int threads, int cores) {
    if (threads <= cores) return threads;
    std::fprintf(stderr, "%s: warning: %d threads lowered to %d, the cores this process may run on\n", program,
                 threads, cores);
    return cores;
}
