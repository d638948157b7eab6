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
extern long P;

// Iterations the AGM loop runs for a precision of prec bits: it runs while a
// counter, -1 and then 2 v + 10 after each iteration, is below 2 prec + 10,
// so the count is about log2 prec - 2, rounded up (20 at 10^6 digits, 27 at
// 10^8, 30 at 10^9, 33 at 10^10). By then the AGM's own error is below
// 2^-(2 prec): the iterations' error, not the AGM's, decides the guard bits.
int agm_iterations(long prec);

// Guard bits every AGM number carries above P, for n iterations. The AGM
// sums its correction terms 2^k (a_k^2 - b_k^2), k < n: an error of a few
// units (fewer than 8) in a_k^2 - b_k^2 is scaled by 2^k, so the sum gathers
// fewer than 2^(n+3) units. n + 4 guard bits keep that below half a unit of
// P's last bit, at every precision; never fewer than 32, so that short runs
// carry the same spare. The ~10 bits P keeps beyond the last printed decimal
// are left for the final division and the printing.
constexpr long AGM_MIN_GUARD_BITS = 32;
inline long agm_guard_bits(int n) { return n + 4 > AGM_MIN_GUARD_BITS ? n + 4 : AGM_MIN_GUARD_BITS; }

// Precision of every AGM number and of the kernels' results, bits, for a
// run of prec_bits; agm_prec() for this run's P.
inline long agm_prec_for(long prec_bits) { return prec_bits + agm_guard_bits(agm_iterations(prec_bits)); }
inline long agm_prec() { return agm_prec_for(P); }

// Scratch numbers of the kernels, at ladder_scratch_bits(agm_prec()) bits.
// Their values between calls mean nothing. The one full-precision scratch
// number each kernel needs is the caller's: the AGM always has one of its
// own numbers free at a kernel call, and lending it saves a number of
// agm_prec() bits at the memory peak.
extern mpf_t r, t;

// The library forms a float product or sum at its destination's precision
// and truncates the operands to that; an operand's own precision, as set with
// mpf_set_prec_raw, changes no result. The kernels still lower x's and b's
// precision where a step reads them at half precision, so that each number's
// precision tells which precision a step works at; no value depends on it.

// result <- sqrt(x), x > 0, result distinct from x. x's value is untouched;
// its precision is lowered during the call and set back to agm_prec().
// scratch, at agm_prec() bits and distinct from x, is overwritten; it may be
// result, which is written only after scratch's last reading.
void newton_sqrt(mpf_t result, mpf_t x, mpf_t scratch);

// quotient <- a / b, b != 0; quotient may be a. b's value is untouched; its
// precision is left lowered (to its last Newton step's half precision), so a
// caller that writes to b afterwards must set it back first. scratch, at
// agm_prec() bits and distinct from the others, is overwritten.
void newton_div(mpf_t quotient, mpf_t a, mpf_t b, mpf_t scratch);

}  // namespace agm
