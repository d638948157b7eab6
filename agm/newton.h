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
// scaled by 2^k, so over n iterations the sum gathers about 2^n units, and the
// loop bound makes n about log2 P - 2 (rounded up). At 10^8 digits (P ~ 3.3e8,
// n = 27) that is under 2^31 units. 32 guard bits cover it, and the ~10 bits
// P keeps beyond the last printed decimal are left for the final division and
// the printing.
constexpr int AGM_GUARD_BITS = 32;

// Precision of every AGM number and of the kernels' results, bits.
inline long agm_prec() { return P + AGM_GUARD_BITS; }

// Scratch numbers of the kernels: u at agm_prec() bits, r and t at
// ladder_scratch_bits(agm_prec()). Their values between calls mean nothing.
extern mpf_t u, r, t;

// The library forms a float product or sum at its destination's precision
// and truncates the operands to that; an operand's own precision, as set with
// mpf_set_prec_raw, changes no result. The kernels still lower x's and b's
// precision where a step reads them at half precision, so that each number's
// precision tells which precision a step works at; no value depends on it.

// result <- sqrt(x), x > 0, result distinct from x. x's value is untouched;
// its precision is lowered during the call and set back to agm_prec().
void newton_sqrt(mpf_t result, mpf_t x);

// quotient <- a / b, b != 0; quotient may be a. b's value is untouched; its
// precision is left lowered (to its last Newton step's half precision), so a
// caller that writes to b afterwards must set it back first.
void newton_div(mpf_t quotient, mpf_t a, mpf_t b);

}  // namespace agm
