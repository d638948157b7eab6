#pragma once
// Square root of a word and quotient of two numbers, by Newton iteration on a
// reciprocal along the precision ladder, ending in one correction step that
// yields the result itself. Both work at the precision the library reports
// for the result number and are accurate to a few units in its last place.

#include <gmp.h>

namespace series {

// Scratch numbers, created at the default precision by the caller before the
// first call (u, then r, then t) and never needed afterwards; the results'
// precision must not exceed theirs. u may be a result.
extern mpf_t u, r, t;

// Creates u, r, t at the default precision, and releases them.
void newton_create_scratch();
void newton_release_scratch();

// result <- sqrt(x), x > 0. result may be u.
void newton_sqrt_ui(mpf_t result, unsigned long x);

// quotient <- a / b, b != 0; quotient may be a. a's and b's precision are
// left alone.
void newton_quot(mpf_t quotient, const mpf_t a, const mpf_t b);

// newton_quot in two parts, for a caller that has other work to do while the
// reciprocal climbs (wp = mpf_get_prec(quotient)): newton_reciprocal
// leaves 1/b in r to half of wp, reading b and using r and t only;
// newton_quot_finish then reads a and writes the quotient, using u, r, t.
void newton_reciprocal(const mpf_t b, long wp);
void newton_quot_finish(mpf_t quotient, const mpf_t a, const mpf_t b, long wp);

}  // namespace series
