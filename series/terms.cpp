#include "terms.h"

#include <cmath>

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

int series_terms(int digits) {
    // Term 0 alone gives about 13.7 digits and later terms about 14.18 each,
    // so the plain ratio falls short just below each multiple of 14.18.
    int n = static_cast<int>(digits / 14.181);
    while (log10_relative_term(n + 1L) >= -(digits + 2.0)) ++n;
    return n;
}

}  // namespace series
