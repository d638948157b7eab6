#pragma once
// Floats to decimal text through long products, the two halves of every
// split independent and run on threads. Knows nothing of pi.
//
// A float 1 <= x < 2^64 with E digits before its point is scaled once to a
// fraction y = x / 10^E in [0.1, 1); the digits of floor(y 10^len) are then
// found top-down: the leading h of them are those of y's leading words, the
// other len - h those of the fraction part of y 10^h. Each fraction is kept
// above the value it stands for by less than 2^-100 of a unit in its last
// digit, so every floor taken is exact, unless the digits that follow are a
// run of 0s or 9s some 30 long, or the value ends there; then the caller is
// told and takes an exact way.

#include <gmp.h>

#include <cstddef>
#include <string>

namespace decimal {

// What mpf_out_str(stream, 10, count, x) writes ("0.314e1"), count >= 1,
// from long products on `threads` threads for 1 <= x < 2^64. Where the
// value's digits after the count lie so close to a half that GMP's own
// rounding (from an approximation with few bits beyond the last digit at
// some counts) might go either way, and for any other x, the text comes
// from GMP's conversion, so that it is always GMP's.
std::string float_text(const mpf_t x, std::size_t count, int threads);

// What mpf_out_str(stream, 10, count, x) writes, from GMP's own conversion.
std::string library_text(const mpf_t x, std::size_t count);

// The digits of floor(x 10^decimals), 1 <= x < 2^64, from long products on
// `threads` threads; empty where they could not be settled (the digits
// after the last lie within 2^-100 of a unit of it) or x is out of range.
std::string floor_digits(const mpf_t x, std::size_t decimals, int threads);

// The text of float_text came from GMP's conversion since start-up this many
// times (tests).
unsigned long library_conversions();

}  // namespace decimal
