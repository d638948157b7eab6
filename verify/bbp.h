#pragma once
// Hexadecimal digits of pi at any position without the digits before them:
// Bellard's digit-extraction formula,
//   pi = 2^-6 sum_n (-1)^n 2^(-10 n) (-2^5/(4n+1) - 1/(4n+3) + 2^8/(10n+1)
//        - 2^6/(10n+3) - 2^2/(10n+5) - 2^2/(10n+7) + 1/(10n+9)),
// whose terms at position d, after 16^d = 2^(4d), are 2^(4d - 6 - 10n + c)
// / m: word-sized modular exponentiations for the terms with a positive
// power, a few fractions for the rest. Nothing here shares arithmetic with
// the programs' computation of pi.

#include <cstdint>

namespace verify {

__extension__ typedef unsigned __int128 u128;

// A number modulo 1 in units of 2^-128: bits / 2^128.
struct Sum128 {
    u128 bits = 0;
};

// frac(16^d pi) to 128 bits, and a bound on its error: |bits - frac(16^d
// pi) 2^128| <= error, the difference taken modulo 2^128. On up to
// `threads` threads.
struct PiFraction {
    u128 bits;
    std::uint64_t error;
};
PiFraction pi_fraction(std::uint64_t d, int threads);

// One of the formula's seven sums: sign (-1)^n (negative ? -1 : 1) 2^(E -
// 10 n) / (a n + b).
struct Series {
    std::uint64_t a, b, E;
    bool negative;
};

// The instruction set the long sums use ("avx512", "avx2", "portable"), and
// a test's choice of another: false where this processor lacks it.
const char* bbp_instructions();
bool use_bbp_instructions(const char* name);

}  // namespace verify
