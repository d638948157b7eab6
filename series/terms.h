#pragma once
// How many terms of the series a digit count needs, and how large its
// integers and its run grow.

namespace series {

// Terms after term 0: trunc(digits / 14.181), raised until the first term left
// out, relative to the whole sum, is below 10^-(digits + 2). The series
// alternates with shrinking terms, so that term bounds the whole tail, and
// the printed pi (digits + 1 decimals, rounded) stays within one unit of its
// last digit.
long series_terms(long long digits);

// Bits of the longest integer the splitting of terms 1 to n makes, p(0, n)
// times the final scaling's 53360, rounded up generously (a few words over).
double series_integer_bits(long n);

// Estimated peak resident memory of a run, bytes, digits printed or not: a
// multiple of p(0, n)'s size fitted to peaks measured from 10^6 to 10^9
// digits, erring on the large side.
double series_peak_bytes(long long digits, int threads, bool fast);

// Largest digit count whose integers the library can hold (its integers count
// their limbs in an int) and whose floats it can hold: about 1.4e10 digits
// with 64-bit limbs.
long long series_max_digits();

// log10 of |term k| relative to the sum of the series.
double log10_relative_term(long k);

}  // namespace series
