#include "parallel_split.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "run_both.h"
#include "split.h"

namespace series {

namespace {

// Hands the pages of freed blocks back to the system. Each thread allocates
// from its own pool, and a pool keeps what its thread freed; without this the
// halves' freed scratch would stay resident through the combination, the
// run's memory peak.
void release_free_memory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// (a, b] from (a, m] in p, q, g and (m, b] in p2, q2, g2, as split_series
// combines them, in two lanes that share no number they write:
//   lane 1: p <- p p2, then q <- q p2;
//   lane 2: q2 <- q2 g, then g2 <- g g2 where gflag is set, then beside().
// split_series forms g <- g g2 in place after q2 <- q2 g, which reads g; lane
// 2 keeps that order, and g2 takes the product so that g and g2 just swap.
// The values are those of split_series. Two products of p's length at once
// would double the multiplication's scratch, several times its operands, at
// the run's peak; so lane 1 has both of them, and lane 2 the shorter ones
// (g is about 3/5 as long as p).
void combine(mpz_t p, mpz_t q, mpz_t g, mpz_t p2, mpz_t q2, mpz_t g2, int gflag,
             BesideTask beside) {
    run_both(
        [&] {
            mpz_mul(q2, q2, g);
            if (gflag) mpz_mul(g2, g, g2);
            if (beside) beside();
        },
        [&] {
            mpz_mul(p, p, p2);
            mpz_mul(q, q, p2);
        });
    mpz_add(q, q, q2);
    if (gflag) mpz_swap(g, g2);
}

}  // namespace

void split_series_parallel(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag,
                           int threads, BesideTask beside) {
    if (threads <= 1 || b - a == 1 || (output & 2)) {
        if (beside && threads > 1)
            run_both(beside, [&] { split_series(p, q, g, a, b, gflag); });
        else {
            split_series(p, q, g, a, b, gflag);
            if (beside) beside();
        }
        return;
    }
    // The halves as split_series makes them; the right half, whose terms are
    // slightly longer, keeps the larger share of an odd thread count.
    const unsigned long m = (a + b) / 2;
    const int left_threads = threads / 2, right_threads = threads - left_threads;
    mpz_t p2, q2, g2;
    mpz_init(p2);
    mpz_init(q2);
    mpz_init(g2);
    run_both([&] { split_series_parallel(p, q, g, a, m, 1, left_threads); },
             [&] { split_series_parallel(p2, q2, g2, m, b, gflag, right_threads); });
    release_free_memory();
    combine(p, q, g, p2, q2, g2, gflag, beside);
    mpz_clear(p2);
    mpz_clear(q2);
    mpz_clear(g2);
}

}  // namespace series
