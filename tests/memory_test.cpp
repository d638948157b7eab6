// The memory check against made-up machines: each bound binding in turn, the
// refusal naming it, and the warnings of a run that fits.

#include <gtest/gtest.h>

#include <string>

#include "memory.h"

namespace {

constexpr double MIB = 1024.0 * 1024.0, GIB = 1024.0 * MIB;

struct Case {
    MachineMemory machine;
    double peak;
    bool runs;
    std::string err;
};

}  // namespace

TEST(MemorySuffices, TheSmallestBoundBindsAndIsNamed) {
    const std::string need = "pi: 1000 digits need about ";
    const MachineMemory plain{16 * GIB, 8 * GIB, 20 * GIB, 0, 0, 0, ""};
    MachineMemory limited = plain;
    limited.address_space = 4 * GIB;
    limited.data = 6 * GIB;
    MachineMemory data_limited = limited;
    data_limited.data = 3 * GIB;
    MachineMemory cgroup_v2 = limited;
    cgroup_v2.cgroup = 2 * GIB;
    cgroup_v2.cgroup_file = "memory.max";
    MachineMemory cgroup_v1 = plain;
    cgroup_v1.cgroup = 512 * MIB;
    cgroup_v1.cgroup_file = "memory.limit_in_bytes";
    MachineMemory busy = plain;
    busy.free = 12 * GIB;
    const MachineMemory unknown{0, 0, 0, 0, 0, 0, ""};
    const Case cases[] = {
        {plain, 10 * GIB, true, ""},
        {plain, 18 * GIB, true,
         "pi: warning: 1000 digits need about 18.0 GiB of memory, more than the 16.0 GiB of "
         "physical memory: the run will page heavily\n"},
        {plain, 25 * GIB, false, need + "25.0 GiB of memory; this machine has 24.0 GiB (memory and swap)\n"},
        {busy, 14 * GIB, true, "pi: warning: 1000 digits need about 14.0 GiB of memory; 12.0 GiB is free now\n"},
        {limited, 3 * GIB, true, ""},
        {limited, 5 * GIB, false, need + "5.0 GiB of memory; the process may use 4.0 GiB (ulimit -v)\n"},
        {data_limited, 3.5 * GIB, false,
         need + "3.5 GiB of memory; the process may use 3.0 GiB (ulimit -d)\n"},
        {cgroup_v2, 3 * GIB, false,
         need + "3.0 GiB of memory; its control group may use 2.0 GiB (memory.max)\n"},
        {cgroup_v1, 600 * MIB, false,
         need + "600.0 MiB of memory; its control group may use 512.0 MiB (memory.limit_in_bytes)\n"},
        {unknown, 1000 * GIB, true, ""},
    };
    int i = 0;
    for (const Case& c : cases) {
        ::testing::internal::CaptureStderr();
        const bool runs = memory_suffices("pi", 1000, c.peak, c.machine);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(runs, c.runs) << "case " << i;
        EXPECT_EQ(err, c.err) << "case " << i;
        ++i;
    }
}
