#include "newton.h"

#include <cmath>

#include "ladder.h"
#include "products.h"

namespace agm {

long P;
mpf_t r, t;

// Up to 53 bits a double holds the whole answer.
static bool fits_double() { return P <= 53; }

void newton_sqrt(mpf_t result, mpf_t x, mpf_t u) {
    if (fits_double()) {
        mpf_set_d(result, std::sqrt(mpf_get_d(x)));
        return;
    }
    const long wp = agm_prec(), room = ladder_scratch_bits(wp);
    Ladder ladder = ladder_descent(wp);
    set_prec_within(r, 53, room);
    mpf_set_d(r, 1.0 / std::sqrt(mpf_get_d(x)));

    for (long step; (step = ladder_next_step(ladder, wp)) != 0;) {
        const long sp = step + NEWTON_GUARD_BITS, hp = step / 2 + NEWTON_GUARD_BITS;
        // r += r (1 - x r^2) / 2; the correction is ~2^-step/2 small, so half
        // the step's precision suffices for its last product. x r^2 itself
        // is formed at t's full step precision: 1 - x r^2 cancels half of
        // its bits. Lowering x's precision changes no product (see newton.h).
        set_prec_within(t, sp, room);
        products::mul(t, r, r);
        set_prec_within(x, hp, wp);
        products::mul(t, t, x);
        mpf_ui_sub(t, 1, t);
        set_prec_within(t, hp, room);
        mpf_div_2exp(t, t, 1);
        products::mul(t, t, r);
        set_prec_within(r, sp, room);
        mpf_add(r, r, t);
    }

    // Final step: t = x r is sqrt(x) to half precision, and
    // sqrt(x) = t + r (x - t^2) / 2 to full precision; only x - t^2 needs it.
    // x's precision follows the step's, though only t's and u's decide.
    const long hp = wp / 2 + NEWTON_GUARD_BITS;
    set_prec_within(t, hp, room);
    set_prec_within(x, hp, wp);
    products::mul(t, r, x);
    products::mul(u, t, t);
    set_prec_within(x, wp, wp);
    mpf_sub(u, x, u);
    products::mul(r, r, u);
    mpf_div_2exp(r, r, 1);
    mpf_add(result, r, t);
}

void newton_div(mpf_t quotient, mpf_t a, mpf_t b, mpf_t u) {
    if (fits_double()) {
        mpf_set_d(quotient, mpf_get_d(a) / mpf_get_d(b));
        return;
    }
    const long wp = agm_prec(), room = ladder_scratch_bits(wp);
    Ladder ladder = ladder_descent(wp);
    set_prec_within(r, ladder.prec, room);
    mpf_set_d(r, 1.0 / mpf_get_d(b));

    for (long step; (step = ladder_next_step(ladder, wp)) != 0;) {
        const long sp = step + NEWTON_GUARD_BITS, hp = step / 2 + NEWTON_GUARD_BITS;
        // r += r (1 - b r); b r is formed at t's step precision whatever b's
        // precision says (see newton.h).
        set_prec_within(t, sp, room);
        set_prec_within(b, hp, wp);
        products::mul(t, r, b);
        mpf_ui_sub(t, 1, t);
        set_prec_within(t, hp, room);
        products::mul(t, t, r);
        set_prec_within(r, sp, room);
        mpf_add(r, r, t);
    }

    // Final step: t = a r is a/b to half precision, and
    // a/b = t + r (a - b t) to full precision. The quotient is written last,
    // after every read of a, so it may be a.
    set_prec_within(t, wp / 2 + NEWTON_GUARD_BITS, room);
    products::mul(t, r, a);
    products::mul(u, t, b);
    mpf_sub(u, a, u);
    products::mul(r, r, u);
    mpf_add(quotient, r, t);
}

}  // namespace agm
