// The threads a run gets: every core it may run on for 0, and never more
// than those, from the affinity mask's count and a control group's quota.

#include <gtest/gtest.h>

#include "threads.h"

TEST(Threads, CoresAreTheAffinityMaskLimitedByTheQuotaRoundedUp) {
    EXPECT_EQ(cores_allowed(8, 0), 8);
    EXPECT_EQ(cores_allowed(8, 2.0), 2);
    EXPECT_EQ(cores_allowed(8, 1.5), 2);
    EXPECT_EQ(cores_allowed(8, 0.25), 1);
    EXPECT_EQ(cores_allowed(2, 16.0), 2);
    EXPECT_EQ(cores_allowed(0, 0), 1);
    EXPECT_EQ(cpu_quota_cores("150000", "100000"), 1.5);  // version 2's cpu.max
    EXPECT_EQ(cpu_quota_cores("max", "100000"), 0);
    EXPECT_EQ(cpu_quota_cores("-1", "100000"), 0);  // version 1's cfs_quota_us
    EXPECT_EQ(cpu_quota_cores("", ""), 0);
    EXPECT_GE(available_cores(), 1);
}

TEST(Threads, ACountAboveTheCoresIsLoweredToThem) {
    EXPECT_EQ(threads_within("t", 2, 2), 2);
    EXPECT_EQ(threads_within("t", 1024, 2), 2);
    EXPECT_EQ(threads_within("t", 3, 64), 3);
    int threads = -1;
    EXPECT_TRUE(read_thread_count("t", "threads", "0", &threads));
    EXPECT_EQ(threads, available_cores());
    EXPECT_TRUE(read_thread_count("t", "threads", "64", &threads));
    EXPECT_EQ(threads, 64);  // lowered where the run starts, with its warning
    for (const char* text : {"", "2abc", "+2", "-1", " 2", "1025", "0000000002x"})
        EXPECT_FALSE(read_thread_count("t", "threads", text, &threads)) << text;
}
