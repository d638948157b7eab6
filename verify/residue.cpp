#include "residue.h"

#include "primes.h"

namespace verify {

namespace {

__extension__ typedef unsigned __int128 u128;

// Its own draw, not the engine's check's prime.
const std::uint64_t q = mul::random_prime_below_2_61();
const std::uint64_t c = (std::uint64_t{1} << 61) - q;
constexpr std::uint64_t LOW61 = (std::uint64_t{1} << 61) - 1;

// t mod q, t < 2^125: t = h 2^61 + l = h c + l (mod q), which is below 2^64
// 2^20 + 2^61 after one fold and below 2^62 after the next.
std::uint64_t reduce(u128 t) {
    t = (t >> 61) * c + (t & LOW61);
    t = (t >> 61) * c + (t & LOW61);
    std::uint64_t r = static_cast<std::uint64_t>(t);
    while (r >= q) r -= q;
    return r;
}

}  // namespace

std::uint64_t modulus() { return q; }

std::uint64_t add_mod(std::uint64_t a, std::uint64_t b) { return (a + b) % q; }
std::uint64_t sub_mod(std::uint64_t a, std::uint64_t b) { return (a + q - b % q) % q; }
std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b) {
    return reduce(static_cast<u128>(a) * b);
}
std::uint64_t pow_mod(std::uint64_t a, std::uint64_t e) {
    std::uint64_t x = 1;
    for (a %= q; e; e /= 2, a = mul_mod(a, a))
        if (e & 1) x = mul_mod(x, a);
    return x;
}

std::uint64_t words_residue(const mp_limb_t* x, std::size_t n) {
    // Horner's rule from the top word: r 2^64 + w = r 8c + w (mod q), as
    // 2^61 = c; below 2^61 2^23 + 2^64.
    std::uint64_t r = 0;
    for (std::size_t i = n; i-- > 0;) r = reduce(static_cast<u128>(r) * (8 * c) + x[i]);
    return r;
}

bool digits_residue(const char* text, std::size_t n, int base, std::uint64_t* residue) {
    // Chunks of 15 digits (16^15 < 10^19 < 2^64) by Horner's rule.
    const std::size_t chunk = 15;
    std::uint64_t r = 0;
    for (std::size_t i = 0; i < n; i += chunk) {
        const std::size_t len = n - i < chunk ? n - i : chunk;
        std::uint64_t value = 0, scale = 1;
        for (std::size_t k = 0; k < len; ++k) {
            const char c = text[i + k];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else
                return false;
            value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
            scale *= static_cast<std::uint64_t>(base);
        }
        r = reduce(static_cast<u128>(r) * scale + value);  // below 2^61 2^60 + 2^60
    }
    *residue = r;
    return true;
}

}  // namespace verify
