#pragma once
// The transform's primes and their tables: word-size primes p with
// 2^49 < p < 2^50 and p = 1 (mod 2^32), so that roots of unity of every
// power-of-two order up to 2^32 exist mod p, and residues and their
// products stay exact in double precision (see ntt_impl.h).

#include <cstdint>

namespace mul {

// Products of two words, exactly.
__extension__ typedef unsigned __int128 u128;

// Most primes a product uses: 8 give P > 2^392.
constexpr int MAX_PRIMES = 8;

// Longest sub-transform, 2^TABLE_BITS: the transforms of length up to
// 2^(2 TABLE_BITS) are split into two passes of sub-transforms no longer.
constexpr int TABLE_BITS = 15;

struct Prime {
    std::uint64_t p;
    double pd, pinv;  // p and 1/p as doubles
    // w_fwd[len + j] = w_{2 len}^j for len = 1, 2, 4, ..., 2^(TABLE_BITS-1),
    // j < len, where w_n is a primitive n-th root of unity; w_inv the
    // inverses. Signed residues, |w| <= p/2.
    double* w_fwd;
    double* w_inv;
    std::uint64_t root;  // a primitive 2^32-th root of unity
    double pow48[4];     // 2^(48 k) mod p, signed, k < 4: a chunk's pieces' weights
    // For the remaindering, inv_below[j] = 1 / p_j mod p for the primes
    // before this one, signed, |.| <= p/2.
    double inv_below[MAX_PRIMES];
};

// The primes in use, the largest first; built on the first call, thread-safe.
const Prime* primes();

// Writes the roots' tables of every prime for sub-transforms up to 2^bits
// (bits <= TABLE_BITS); a transform calls it before it reads them.
void prepare_roots(int bits);

// Integer helpers, exact for any 64-bit modulus.
inline std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b, std::uint64_t m) {
    return static_cast<std::uint64_t>(static_cast<u128>(a) * b % m);
}
std::uint64_t pow_mod(std::uint64_t base, std::uint64_t e, std::uint64_t m);

// x w mod p for a fixed w < p < 2^63, with w_shoup = floor(w 2^64 / p)
// (Shoup's method): q = floor(x w_shoup / 2^64) is floor(x w / p) or one
// less, so x w - q p, formed modulo 2^64, lies in [0, 2p). No division: the
// tables of roots are built with it.
inline std::uint64_t shoup_factor(std::uint64_t w, std::uint64_t p) {
    return static_cast<std::uint64_t>((static_cast<u128>(w) << 64) / p);
}
inline std::uint64_t mul_mod_shoup(std::uint64_t x, std::uint64_t w, std::uint64_t w_shoup, std::uint64_t p) {
    const std::uint64_t q = static_cast<std::uint64_t>((static_cast<u128>(x) * w_shoup) >> 64);
    const std::uint64_t r = x * w - q * p;
    return r >= p ? r - p : r;
}
bool is_prime(std::uint64_t n);

// A prime q = 2^61 - d, the first from a random odd d in [2^10, 2^20) on (the
// process's random device): one of 24,984, none reached from more than 192
// of the 2^19 starts. Each call draws anew.
std::uint64_t random_prime_below_2_61();

// A residue in [0, p) as the signed double of least magnitude.
inline double signed_residue(std::uint64_t x, std::uint64_t p) {
    return x > p / 2 ? -static_cast<double>(p - x) : static_cast<double>(x);
}

}  // namespace mul
