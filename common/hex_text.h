#pragma once
// pi in hexadecimal (--hex): "3." and exactly N hexadecimal digits,
// truncated, from a value computed at hex_precision_bits(N).

#include <gmp.h>

#include <string>

#include "digits.h"

// Bits for N hexadecimal digits: 4 N, and 32 more. The programs' values are
// within 2^(14 - prec) of pi (see trusted_bits): 18 bits below the last
// digit, so that the bits after it leave it open once in some 2^17 runs.
constexpr long hex_precision_bits(long long hex_digits) { return static_cast<long>(4 * hex_digits + 32); }

// Bits after the point of pi both programs' values hold: |x - pi| <
// 2^-trusted_bits(prec). Their last bit is worth 2^(2 - prec); the AGM's
// value is within a unit of it, the series' within 2^9 units (the most seen
// from 1 to 300,000 digits: 481): 2^12 units leave a margin of eight.
constexpr long trusted_bits(long prec) { return prec - 14; }

// The decimal count whose precision covers N hexadecimal digits' (for the
// term count and the memory estimate).
constexpr long long decimal_equivalent(long long hex_digits) {
    return static_cast<long long>((4.0 * static_cast<double>(hex_digits) + 16) / BITS_PER_DIGIT) + 1;
}

// Most hexadecimal digits a float can carry, guard bits included.
constexpr long long MAX_HEX_DIGITS = (MAX_FLOAT_BITS - MAX_EXTRA_BITS - 32) / 4;

// "3." and the first `digits` hexadecimal digits of pi from x, |x - pi| <
// 2^-trusted, lowercase, truncated; empty where that bound leaves the last
// digit open (the bits after it within the bound of a carry).
std::string settled_hex(const mpf_t x, long long digits, long trusted);
