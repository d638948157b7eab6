#pragma once
// The twiddle factors of a transform (see Twiddles in kernels.h): for each
// prime, length and direction made on first use and kept for the process's
// life, a ninth of the transform's length in doubles.

#include "kernels.h"

namespace mul {

// Twiddles of prime q for transforms of 2^k, forward or inverse (the
// inverse's start rows carry the factor 1/2^k); thread-safe.
Twiddles twiddles(int q, int k, bool inverse);

}  // namespace mul
