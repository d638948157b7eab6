// The engine in the computations, taking every product however short: the
// AGM's pi and the splitting's integers (threaded too) are exactly the
// library's, value for value, so that --fast prints the same digits. The
// series kernels' test of the same is with their other tests.

#include <gmp.h>
#include <gtest/gtest.h>

#include <vector>

#include "agm_run.h"
#include "mul.h"
#include "parallel_split.h"
#include "products.h"
#include "split.h"
#include "split_node.h"

namespace {

// Runs f once with GMP's products and once with the engine's from one word
// up, on `threads` threads.
template <class F>
void both_ways(int threads, F f) {
    f(false);
    mul::use_transform_from(1, 1);
    products::use_engine(threads);
    f(true);
    products::use_library();
    mul::use_transform_from(0, 0);
}

}  // namespace

// Products this short run on one thread whatever is asked for: the threaded
// paths are the splitting's case below, the engine's and the million-digit
// runs'.
TEST(Fast, AgmPiIsTheLibrarysAtEveryCountTo2000AndSampledTo3000) {
    std::vector<int> counts;
    for (int d = 0; d <= 2000; ++d) counts.push_back(d);
    for (int d = 2017; d <= 3000; d += 97) counts.push_back(d);
    for (int algorithm : {0, 1, 2})
        for (int digits : counts) {
            AgmResult results[2];
            both_ways(2, [&](bool fast) { results[fast] = agm_pi(digits, algorithm); });
            EXPECT_EQ(results[1].mantissa, results[0].mantissa) << digits << " digits, variant " << algorithm;
            EXPECT_EQ(results[1].exponent, results[0].exponent);
        }
}

TEST(Fast, SplitIntegersAreTheLibrarysOnOneThreadAndOnThree) {
    series::output = 0;
    for (unsigned long terms : {1UL, 2UL, 3UL, 70UL, 701UL, 2000UL}) {
        SplitNode node[2], threaded[2];
        both_ways(3, [&](bool fast) {
            series::split_series(node[fast].p, node[fast].q, node[fast].g, 0, terms, 1);
            series::split_series_parallel(threaded[fast].p, threaded[fast].q, threaded[fast].g, 0, terms, 1, 3);
        });
        EXPECT_EQ(mpz_cmp(node[1].p, node[0].p), 0) << terms;
        EXPECT_EQ(mpz_cmp(node[1].q, node[0].q), 0) << terms;
        EXPECT_EQ(mpz_cmp(node[1].g, node[0].g), 0) << terms;
        EXPECT_EQ(mpz_cmp(threaded[1].q, node[0].q), 0) << terms;
        EXPECT_EQ(mpz_cmp(threaded[1].g, node[0].g), 0) << terms;
    }
}
