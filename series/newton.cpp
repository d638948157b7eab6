#include "newton.h"

#include <cassert>
#include <cmath>

#include "ladder.h"
#include "products.h"

namespace series {

mpf_t u, r, t;

void newton_create_scratch() {
    mpf_init(u);
    mpf_init(r);
    mpf_init(t);
}

void newton_release_scratch() {
    // The kernels leave r and t at a lowered precision; the library releases
    // a number by the size its precision tells, so they get u's back, the
    // precision all three were created with.
    const mp_bitcnt_t created = mpf_get_prec(u);
    mpf_set_prec_raw(r, created);
    mpf_set_prec_raw(t, created);
    mpf_clear(u);
    mpf_clear(r);
    mpf_clear(t);
}

void newton_sqrt_ui(mpf_t result, unsigned long x) {
    const long wp = static_cast<long>(mpf_get_prec(result));
    // u, r and t were created together, and u's precision is never changed
    // raw, so it tells the room all three have.
    const long room = static_cast<long>(mpf_get_prec(u));
    assert(wp <= room && "result more precise than the scratch");
    // The library reports at least one limb's bits (64). At fewer than 2
    // LADDER_START_BITS the climb has no step and the final step starts
    // from the double seed, which holds them.
    Ladder ladder = ladder_descent(wp);
    set_prec_within(r, 53, room);
    mpf_set_d(r, 1.0 / std::sqrt(static_cast<double>(x)));

    for (long step; (step = ladder_next_step(ladder, wp)) != 0;) {
        const long sp = step + NEWTON_GUARD_BITS, hp = step / 2 + NEWTON_GUARD_BITS;
        // r += r (1 - x r^2) / 2; the correction needs only half the step's
        // precision for its last product.
        set_prec_within(t, sp, room);
        products::mul(t, r, r);
        mpf_mul_ui(t, t, x);
        mpf_ui_sub(t, 1, t);
        set_prec_within(t, hp, room);
        mpf_div_2exp(t, t, 1);
        products::mul(t, t, r);
        set_prec_within(r, sp, room);
        mpf_add(r, r, t);
    }

    // Final step: t = x r is sqrt(x) to half precision, and
    // sqrt(x) = t + r (x - t^2) / 2 to full precision. The result is written
    // last, after every use of u, so it may be u.
    set_prec_within(t, wp / 2 + NEWTON_GUARD_BITS, room);
    mpf_mul_ui(t, r, x);
    products::mul(u, t, t);
    mpf_ui_sub(u, x, u);
    products::mul(r, r, u);
    mpf_div_2exp(r, r, 1);
    mpf_add(result, r, t);
}

void newton_reciprocal(const mpf_t b, long wp) {
    const long room = static_cast<long>(mpf_get_prec(u));
    assert(wp <= room && "quotient more precise than the scratch");
    Ladder ladder = ladder_descent(wp);
    set_prec_within(r, 53, room);
    mpf_set_d(r, 1.0 / mpf_get_d(b));

    for (long step; (step = ladder_next_step(ladder, wp)) != 0;) {
        const long sp = step + NEWTON_GUARD_BITS;
        // r += r (1 - b r), all at the step's precision
        set_prec_within(t, sp, room);
        products::mul(t, r, b);
        mpf_ui_sub(t, 1, t);
        products::mul(t, t, r);
        set_prec_within(r, sp, room);
        mpf_add(r, r, t);
    }
}

void newton_quot_finish(mpf_t quotient, const mpf_t a, const mpf_t b, long wp) {
    // Final step, at full precision: t = a r, and a/b = t + r (a - b t). The
    // quotient is written last, after every read of a, so it may be a.
    set_prec_within(t, wp, static_cast<long>(mpf_get_prec(u)));
    products::mul(t, r, a);
    products::mul(u, b, t);
    mpf_sub(u, a, u);
    products::mul(r, r, u);
    mpf_add(quotient, r, t);
}

void newton_quot(mpf_t quotient, const mpf_t a, const mpf_t b) {
    const long wp = static_cast<long>(mpf_get_prec(quotient));
    newton_reciprocal(b, wp);
    newton_quot_finish(quotient, a, b, wp);
}

}  // namespace series
