#include "check.h"

#include <cstdint>
#include <random>

#include "primes.h"
#include "team.h"

namespace mul {

namespace {

struct Modulus {
    std::uint64_t d, q;
};

// q = 2^61 - d prime, d odd in [2^10, 2^20), from the process's random device.
Modulus choose_modulus() {
    std::random_device device;
    std::uint64_t d = (std::uint64_t{device()} % (1u << 19) + (1u << 9)) * 2 + 1;
    while (!is_prime((std::uint64_t{1} << 61) - d)) d += 2;
    return {d, (std::uint64_t{1} << 61) - d};
}

const Modulus& modulus() {
    static const Modulus m = choose_modulus();
    return m;
}

// {x, n} mod q, by Horner's rule from the top word with 2^64 = 8 d (mod q),
// since 2^61 = d. The running value r stays below 2^62: r 8 d + word is below
// 2^62 2^23 + 2^64 < 2^86, and folding it as h 2^61 + l -> h d + l leaves
// h d < 2^25 2^20 plus l < 2^61, below 2^62. Four quarters of x run as four
// independent chains, joined by powers of 2^64 at the end, so that the
// chains' multiplications overlap.
std::uint64_t horner(const mp_limb_t* x, std::size_t n, const Modulus& m) {
    const std::uint64_t mask = (std::uint64_t{1} << 61) - 1, c = 8 * m.d;
    std::uint64_t r = 0;
    for (std::size_t i = n; i-- > 0;) {
        const u128 t = static_cast<u128>(r) * c + x[i];
        r = static_cast<std::uint64_t>(t >> 61) * m.d + (static_cast<std::uint64_t>(t) & mask);
    }
    return r % m.q;
}

std::uint64_t residue(const mp_limb_t* x, std::size_t n, const Modulus& m) {
    const std::size_t quarter = n / 4;
    if (quarter < 64) return horner(x, n, m);
    const std::uint64_t mask = (std::uint64_t{1} << 61) - 1, c = 8 * m.d;
    std::uint64_t r[4] = {0, 0, 0, 0};
    const std::size_t start[4] = {0, quarter, 2 * quarter, 3 * quarter};
    const std::size_t top = n - 3 * quarter;  // the last quarter takes the rest
    for (std::size_t i = top; i-- > 0;) {
        for (int j = 0; j < 4; ++j) {
            if (j < 3 && i >= quarter) continue;
            const u128 t = static_cast<u128>(r[j]) * c + x[start[j] + i];
            r[j] = static_cast<std::uint64_t>(t >> 61) * m.d + (static_cast<std::uint64_t>(t) & mask);
        }
    }
    // x = r0 + r1 B + r2 B^2 + r3 B^3 with B = 2^(64 quarter).
    const std::uint64_t base = pow_mod(c % m.q, quarter, m.q);
    std::uint64_t sum = r[3] % m.q;
    for (int j = 2; j >= 0; --j) sum = (mul_mod(sum, base, m.q) + r[j] % m.q) % m.q;
    return sum;
}

}  // namespace

bool product_holds(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                   const mp_limb_t* r, std::size_t n, int threads) {
    const Modulus& m = modulus();
    const bool square = a == b && an == bn;
    std::uint64_t ra = 0, rb = 0, part[2] = {0, 0};
    // Two threads: a's residue and r's low half on one, b's and r's high
    // half on the other.
    const std::size_t half = threads > 1 ? n / 2 : n;
    Team team(threads > 1 ? 2 : 1);
    team.run([&](int t, int size) {
        if (t == 0) {
            ra = residue(a, an, m);
            part[0] = residue(r, size > 1 ? half : n, m);
        }
        if (t == 1 || size == 1) {
            if (!square) rb = residue(b, bn, m);
            if (size > 1) part[1] = residue(r + half, n - half, m);
        }
    });
    if (square) rb = ra;
    std::uint64_t rr = part[0];
    if (threads > 1 && half < n) {
        const std::uint64_t shift = pow_mod((8 * m.d) % m.q, half, m.q);  // 2^(64 half)
        rr = (rr + mul_mod(part[1], shift, m.q)) % m.q;
    }
    return mul_mod(ra, rb, m.q) == rr;
}

}  // namespace mul
