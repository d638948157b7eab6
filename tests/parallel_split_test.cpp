// The threaded splitting against split_series: the same p, q and g, exactly,
// for term counts that halve evenly among the threads and counts that do not.

#include <gmp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "parallel_split.h"
#include "split.h"
#include "split_node.h"

using namespace series;

namespace {

std::atomic<int> beside_runs{0};
void count_beside_run() { ++beside_runs; }

// While set, operator new fails as it does when memory runs out. The
// library's numbers come from malloc; a thread's start needs new.
std::atomic<bool> new_fails{false};

}  // namespace

// Both halves of the replacement use malloc and free, which the compiler
// cannot see across the calls it inlines.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    if (new_fails) throw std::bad_alloc();
    if (void* block = std::malloc(size > 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

TEST(SplitSeriesParallel, EqualsSequentialSplitting) {
    output = 0;
    for (unsigned long a : {0UL, 7UL}) {
        for (unsigned long terms : {1UL, 2UL, 3UL, 5UL, 64UL, 77UL, 1000UL, 4099UL}) {
            for (int gflag : {0, 1}) {
                SplitNode sequential;
                split_series(sequential.p, sequential.q, sequential.g, a, a + terms, gflag);
                for (int threads : {2, 3, 4, 5, 8}) {
                    SplitNode parallel;
                    beside_runs = 0;
                    split_series_parallel(parallel.p, parallel.q, parallel.g, a, a + terms, gflag,
                                          threads, count_beside_run);
                    const auto where = ::testing::Message() << "(" << a << "," << a + terms
                                                            << "] gflag=" << gflag
                                                            << " threads=" << threads;
                    EXPECT_EQ(mpz_cmp(parallel.p, sequential.p), 0) << "p " << where;
                    EXPECT_EQ(mpz_cmp(parallel.q, sequential.q), 0) << "q " << where;
                    EXPECT_EQ(mpz_cmp(parallel.g, sequential.g), 0) << "g " << where;
                    EXPECT_EQ(beside_runs, 1) << where;
                }
            }
        }
    }
}

TEST(SplitSeriesParallel, ThreadThatCannotStartLeavesItsWorkToTheCaller) {
    output = 0;
    SplitNode sequential, parallel;
    split_series(sequential.p, sequential.q, sequential.g, 0, 1000, 0);
    beside_runs = 0;
    new_fails = true;
    split_series_parallel(parallel.p, parallel.q, parallel.g, 0, 1000, 0, 4, count_beside_run);
    new_fails = false;
    EXPECT_EQ(mpz_cmp(parallel.p, sequential.p), 0);
    EXPECT_EQ(mpz_cmp(parallel.q, sequential.q), 0);
    EXPECT_EQ(beside_runs, 1);
}
