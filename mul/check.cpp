#include "check.h"

#include <cstdint>
#include <random>

#include "primes.h"

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
// h d < 2^25 2^20 plus l < 2^61, below 2^62.
std::uint64_t residue(const mp_limb_t* x, std::size_t n, const Modulus& m) {
    const std::uint64_t mask = (std::uint64_t{1} << 61) - 1, c = 8 * m.d;
    std::uint64_t r = 0;
    for (std::size_t i = n; i-- > 0;) {
        const u128 t = static_cast<u128>(r) * c + x[i];
        r = static_cast<std::uint64_t>(t >> 61) * m.d + (static_cast<std::uint64_t>(t) & mask);
    }
    return r % m.q;
}

}  // namespace

bool product_holds(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                   const mp_limb_t* r, std::size_t n) {
    const Modulus& m = modulus();
    const std::uint64_t ra = residue(a, an, m), rb = a == b && an == bn ? ra : residue(b, bn, m);
    return mul_mod(ra, rb, m.q) == residue(r, n, m);
}

}  // namespace mul
