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
// then beside() (if given) done too. A leaf, or the trace bit of `output`
// set: split_series itself in the calling thread, so the trace keeps its
// order, with beside() on a thread of its own where threads > 1. threads <= 1:
// split_series' halves and combination in the calling thread, with the
// halves' freed memory handed back before the combination.
void split_series_parallel(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag,
                           int threads, BesideTask beside = nullptr);

}  // namespace series
