#pragma once
// Decimal digits to bits, and the largest digit count a float can carry.

#include <gmp.h>

#include <climits>

constexpr double BITS_PER_DIGIT = 3.321928094887362;  // log2 10, as a double
constexpr long SPARE_BITS = 16;

// Precision for a digit count, bits: trunc(digits * log2 10 + 16). For pi, whose
// leading bit is worth 2, the last of P bits is worth 2^(2 - P), about
// 10^-(digits + 4.2): the 16 spare bits are ~4.8 decimals, less the 0.6 that
// pi's two integer bits take. The printed value carries digits + 1 decimals,
// so ~3.2 decimals (~10.6 bits) are left between its last digit and the last
// bit of P, for rounding error. The double product is exact to far below one
// bit for every accepted count (below 2^38 bits, 2^-14 of a bit at most).
constexpr long precision_bits(long long digits) {
    return static_cast<long>(static_cast<double>(digits) * BITS_PER_DIGIT + SPARE_BITS);
}

// Most bits a float may be given. The library counts a float's limbs in an
// int, and a float of b bits takes b / GMP_NUMB_BITS + 2 limbs, plus one for
// a sum's carry.
constexpr long long MAX_FLOAT_BITS = (static_cast<long long>(INT_MAX) - 3) * GMP_NUMB_BITS;

// Bits a program may add to precision_bits(digits) for its guard bits and a
// Newton step's own guard: every such addition in either program is below it.
constexpr long long MAX_EXTRA_BITS = 256;

// Largest digit count whose floats, guard bits included, the library can hold
// (about 4.1e10 digits with 64-bit limbs).
constexpr long long MAX_FLOAT_DIGITS =
    static_cast<long long>((MAX_FLOAT_BITS - MAX_EXTRA_BITS - SPARE_BITS) / BITS_PER_DIGIT);
static_assert(precision_bits(MAX_FLOAT_DIGITS) + MAX_EXTRA_BITS <= MAX_FLOAT_BITS,
              "the largest count's floats must fit");
