#pragma once
// How many terms of the series a digit count needs.

namespace series {

// Terms after term 0: trunc(digits / 14.181), raised until the first term left
// out, relative to the whole sum, is below 10^-(digits + 2). The series
// alternates with shrinking terms, so that term bounds the whole tail, and
// the printed pi (digits + 1 decimals, rounded) stays within one unit of its
// last digit.
int series_terms(int digits);

// log10 of |term k| relative to the sum of the series.
double log10_relative_term(long k);

}  // namespace series
