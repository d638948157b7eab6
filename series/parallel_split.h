#pragma once
// Binary splitting on several threads: the top levels of the tree, where the
// two halves of a node are independent, run on threads of their own, and a
// combination at those levels runs its products in two lanes; below them
// every subtree is split_series on one thread. The tree and every node's
// values are exactly those of split_series.

#include <gmp.h>

namespace series {

// A task that needs nothing from the splitting, run where a thread would
// otherwise wait: beside the top node's combination.
using BesideTask = void (*)();

// split_series(p, q, g, a, b, gflag) with up to `threads` threads, a < b,
// then beside() (if given) done too, in the lane of the top combination that
// has the shorter products. One thread, or a leaf: split_series itself, then
// beside(). The trace bit of `output` must be clear: the trace's order is one
// thread's.
void split_series_parallel(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag,
                           int threads, BesideTask beside = nullptr);

}  // namespace series
