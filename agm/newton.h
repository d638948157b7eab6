#pragma once
// Square root and quotient of long numbers by Newton iteration on a
// reciprocal along the precision ladder, ending in one correction step that
// yields the root or the quotient itself. Both work at the precision of the
// AGM numbers, agm_prec() bits, and are accurate to a few units in its last
// place (the ladder's guard bits keep the Newton error from growing).

#include <gmp.h>

namespace agm {

// Precision the digits ask for, bits: precision_bits(digits). Set by the
// driver (through agm_create) before any number is created.
extern int P;

// Guard bits every AGM number carries above P. The AGM sums its correction
// terms 2^k (a_k^2 - b_k^2): an error of a few units in a_k^2 - b_k^2 is
// scaled by 2^k, so over n iterations the sum gathers about 2^n units, and n
// is about log2 P + 2. At 10^8 digits (P ~ 3.3e8, n = 27) that is under 2^31
// units. 32 guard bits cover it, and the 12 or so bits P keeps beyond the last
// printed decimal are left for the final division and the printing.
constexpr int AGM_GUARD_BITS = 32;

// Precision of every AGM number and of the kernels' results, bits.
inline long agm_prec() { return P + AGM_GUARD_BITS; }

// Scratch numbers of the kernels: u at agm_prec() bits, r and t at
// ladder_scratch_bits(agm_prec()). Their values between calls mean nothing.
extern mpf_t u, r, t;

// result <- sqrt(x), x > 0, result distinct from x. x's precision is lowered
// during the call and set back to agm_prec() before it returns.
void newton_sqrt(mpf_t result, mpf_t x);

// quotient <- a / b, b != 0; quotient may be a. b's precision is lowered and
// left lowered (to its last Newton step's half precision): b is spent.
void newton_div(mpf_t quotient, mpf_t a, mpf_t b);

}  // namespace agm
