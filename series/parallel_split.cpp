#include "parallel_split.h"

#include "checkpoints.h"
#include "memory.h"
#include "products.h"
#include "progress.h"
#include "team.h"
#include "split.h"

namespace series {

namespace {

// combine_halves in two lanes that share no number they write:
//   lane 1: p <- p p2, then q <- q p2;
//   lane 2: q2 <- q2 g, then g2 <- g g2 where gflag is set, then beside().
// Lane 2 reads g before g takes the product, as combine_halves does, and g2
// takes the product so that g and g2 just swap. The values are those of
// combine_halves, and like it this clears p2, q2, g2. Two products of p's
// length at once would double the multiplication's scratch, several times
// its operands, at the run's peak; so lane 1 has both of them, and lane 2 the
// shorter ones (g is about 3/5 as long as p).
void combine_in_lanes(mpz_t p, mpz_t q, mpz_t g, mpz_t p2, mpz_t q2, mpz_t g2, int gflag,
                      BesideTask beside) {
    mul::run_both(
        [&] {
            products::mul(q2, q2, g);
            if (gflag)
                products::mul(g2, g, g2);
            else
                release_unread_g(g);
            if (beside) beside();
        },
        [&] {
            products::mul(p, p, p2);
            products::mul(q, q, p2);
            mpz_clear(p2);
        });
    mpz_add(q, q, q2);
    mpz_clear(q2);
    if (gflag) mpz_swap(g, g2);
    mpz_clear(g2);
}

}  // namespace

void split_series_parallel(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag,
                           int threads, BesideTask beside) {
    if (threads > 1 && node_taken_up(p, q, g, a, b, gflag)) {
        if (beside) beside();
        return;
    }
    if (threads <= 1 || b - a == 1) {
        split_series(p, q, g, a, b, gflag);
        if (beside) beside();
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
    // The root's combination, made with the engine in two steps, keeps the
    // node between them; a run that kept it is taken up from there either way.
    const bool root = checkpoints_root(a, b), root_in_steps = root && products::engine_in_use();
    if (root && join_taken_up(p, q, p2, q2)) {
        mpz_clear(g2);
        products::ThreadShare share(threads);
        join_scaled_halves(p, q, p2, q2, false);
        if (beside) beside();
        progress_combined(b - a);
        return;
    }
    // Each half's engine products share that half's threads.
    mul::run_both(
        [&] {
            products::ThreadShare share(left_threads);
            split_series_parallel(p, q, g, a, m, 1, left_threads);
        },
        [&] {
            products::ThreadShare share(right_threads);
            split_series_parallel(p2, q2, g2, m, b, gflag, right_threads);
        });
    release_free_memory();
    if (products::engine_in_use()) {
        // The engine spreads each product over this node's threads: one
        // product at a time, with the scratch of one.
        products::ThreadShare share(threads);
        scale_right_half(q2, g, g2, gflag);
        if (root_in_steps) join_done(p, q, p2, q2);
        join_scaled_halves(p, q, p2, q2, false);
        if (beside) beside();
    } else {
        combine_in_lanes(p, q, g, p2, q2, g2, gflag, beside);
    }
    progress_combined(b - a);
    node_done(p, q, g, a, b, gflag);
}

}  // namespace series
