#pragma once
// Decimal digits to bits, and the digit counts the programs accept.

#include <climits>

constexpr double BITS_PER_DIGIT = 3.321928094887362;  // log2 10, as a double
constexpr int SPARE_BITS = 16;

// Precision for a digit count, bits: trunc(digits * log2 10 + 16). For pi, whose
// leading bit is worth 2, the last of P bits is worth 2^(2 - P), about
// 10^-(digits + 4.2): the 16 spare bits are ~4.8 decimals, less the 0.6 that
// pi's two integer bits take. The printed value carries digits + 1 decimals,
// so ~3.2 decimals (~10.6 bits) are left between its last digit and the last
// bit of P, for rounding error.
constexpr int precision_bits(int digits) {
    return static_cast<int>(digits * BITS_PER_DIGIT + SPARE_BITS);
}

// Largest accepted digit count. The AGM loop runs while a counter is below
// 2·P + 10, an int; this is the largest count for which that bound fits.
constexpr int MAX_DIGITS = 323228490;
static_assert(2L * precision_bits(MAX_DIGITS) + 10 <= INT_MAX, "bound must fit an int");
static_assert(2L * precision_bits(MAX_DIGITS + 1) + 10 > INT_MAX, "MAX_DIGITS is the largest");
