#include "terms.h"

#include <gmp.h>

#include <climits>
#include <cmath>

#include "digits.h"
#include "memory.h"

namespace series {

double log10_relative_term(long k) {
    // |term k| = (6k)! (13591409 + 545140134 k) / ((3k)! (k!)^3 640320^(3k));
    // the sum is 640320^(3/2) / (12 pi).
    const double x = static_cast<double>(k);
    const double ln_term = std::lgamma(6 * x + 1) - std::lgamma(3 * x + 1) - 3 * std::lgamma(x + 1) +
                           std::log(13591409.0 + 545140134.0 * x) - 3 * x * std::log(640320.0);
    const double ln_sum = 1.5 * std::log(640320.0) - std::log(12 * M_PI);
    return (ln_term - ln_sum) / M_LN10;
}

long series_terms(long long digits) {
    // Term 0 alone gives about 13.7 digits and later terms about 14.18 each,
    // so the plain ratio falls short just below each multiple of 14.18. Terms
    // give 14.1816 digits each in the limit: from about 10^7 digits on the
    // ratio starts above the need (by 3,200 terms of 70 million at 10^9) and
    // the loop adds none. In doubles, log10 of a term is off by less than
    // 10^-5 even at 10^10 digits, far inside the two decimals to spare.
    const double d = static_cast<double>(digits);
    long n = static_cast<long>(d / 14.181);
    while (log10_relative_term(n + 1) >= -(d + 2.0)) ++n;
    return n;
}

double series_integer_bits(long n) {
    // p(0, n) = prod_k k^3 10939058860032000 = (n!)^3 10939058860032000^n;
    // q is p times the partial sum, below 2^24 p. 256 bits cover those, the
    // scaling and the lgamma rounding.
    const double x = static_cast<double>(n);
    return (3 * std::lgamma(x + 1) + x * std::log(10939058860032000.0)) / M_LN2 + 256;
}

// Peaks per byte of p(0, n), with 10 % on top of the largest measured.
constexpr double PEAK_PER_INTEGER = 7.8;
constexpr double THREADED_PEAK_PER_INTEGER = 12.8;

double series_peak_bytes(long long digits, int threads, bool fast) {
    // The peak is the root combination, a multiple of the integers' size
    // (p(0, n) is about 1.03 bytes a digit at 10^8 and 1.12 at 10^9).
    // Measured from 10^7 to 10^9 digits, printed or not, the peak is at most
    // 7.04 times p(0, n) with one thread; with 2 to 8 threads, where the
    // halves' combinations run side by side, 11.6 times, and a little more
    // with every doubling of the threads (13.3 at 8).
    const double integer_bytes = series_integer_bits(series_terms(digits)) / 8;
    const double per_integer =
        threads > 1 ? THREADED_PEAK_PER_INTEGER + std::log2(threads) - 1 : PEAK_PER_INTEGER;
    return fast_peak_bytes(per_integer * integer_bytes + FIXED_PEAK_BYTES, fast);
}

long long series_max_digits() {
    // The integers' limbs are counted in an int.
    const double max_bits = static_cast<double>(INT_MAX) * GMP_NUMB_BITS;
    long long low = 0, high = MAX_FLOAT_DIGITS;
    if (series_integer_bits(series_terms(high)) <= max_bits) return high;
    while (high - low > 1) {  // low fits, high does not
        const long long mid = low + (high - low) / 2;
        (series_integer_bits(series_terms(mid)) <= max_bits ? low : high) = mid;
    }
    return low;
}

}  // namespace series
