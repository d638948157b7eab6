#pragma once
// The arithmetic-geometric mean iteration for pi (Gauss-Legendre, or
// Brent-Salamin), in three formulations:
//   a_0 = 1, b_0 = 1/sqrt(2), a_{k+1} = (a_k + b_k) / 2, b_{k+1} = sqrt(a_k b_k),
//   s = 1 - sum_{k<n} 2^k (a_k^2 - b_k^2),   pi ~ 2 a_n^2 / s.
// With n from the loop bound below, the result holds P bits, and the guard
// bits of every number keep the sum's rounding error below them.

#include <gmp.h>

#include "newton.h"
#include "run_clock.h"

namespace agm {

// The AGM state, all at agm_prec() bits.
extern mpf_t A;   // a_k (variants 0 and 1)
extern mpf_t a2;  // a_k^2; pi after agm_finish
extern mpf_t b2;  // b_k^2
extern mpf_t c;   // 2^k (a_k^2 - b_k^2) after step 0; b_k after the root in
                  // variants 0 and 1, a temporary later on, and the
                  // kernels' scratch where it is free
extern mpf_t s;   // the running denominator

// Clock ticks (run_clock) spent in each of the four measured steps of all
// iterations, and in the finish (from the end of the last iteration).
extern RunTicks T[4];
extern RunTicks FD;

// Sets P to prec_bits, the default precision to agm_prec(), and creates A,
// a2, b2, c, s at it, then r and t at the ladder's scratch size. A number a
// variant never touches (A in variant 2) takes address space but no memory.
void agm_create(long prec_bits);
// Releases every number agm_create made.
void agm_release();
// Releases every number but a2, which holds pi after agm_finish: the printing
// needs nothing else, and its own scratch is about four times pi's size.
void agm_release_all_but_pi();

// a = 1, b^2 = 1/2 (no root taken to start), s = 1; zeroes the step totals.
void agm_setup();

// Runs agm_iterations(P) iterations, printing and flushing a "." before each
// (unless dots is false). algorithm 0 and 1 select variants 0 and 1; any
// other value selects variant 2. Returns the iteration count.
int agm_loop(int algorithm, bool dots = true);

// pi <- 2 a_n^2 / s, into a2.
void agm_finish();

}  // namespace agm
