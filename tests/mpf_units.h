#pragma once
// Distance between two floats in units of a given bit position.

#include <gmp.h>

// Relative distance |x - y| / |y|, in units of 2^-bits.
inline double units_apart(const mpf_t x, const mpf_t y, long bits) {
    mpf_t d;
    mpf_init2(d, 64);
    mpf_sub(d, x, y);
    mpf_div(d, d, y);
    mpf_abs(d, d);
    mpf_mul_2exp(d, d, static_cast<mp_bitcnt_t>(bits));
    const double units = mpf_get_d(d);
    mpf_clear(d);
    return units;
}
