#include "residue.h"

#include <random>

namespace verify {

namespace {

__extension__ typedef unsigned __int128 u128;

bool is_prime(std::uint64_t n) {
    // Deterministic Miller-Rabin for n < 2^64 with these bases.
    if (n % 2 == 0) return n == 2;
    std::uint64_t d = n - 1;
    int s = 0;
    for (; d % 2 == 0; d /= 2) ++s;
    for (std::uint64_t a : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
        std::uint64_t x = 1, base = a % n, e = d;
        for (; e; e /= 2, base = static_cast<std::uint64_t>(static_cast<u128>(base) * base % n))
            if (e & 1) x = static_cast<std::uint64_t>(static_cast<u128>(x) * base % n);
        if (x == 1 || x == n - 1) continue;
        bool composite = true;
        for (int r = 1; r < s && composite; ++r) {
            x = static_cast<std::uint64_t>(static_cast<u128>(x) * x % n);
            composite = x != n - 1;
        }
        if (composite) return false;
    }
    return true;
}

// q = 2^61 - c, c odd from 2^10 on, the first prime from a random start.
const std::uint64_t q = [] {
    std::random_device device;
    std::uint64_t c = (std::uint64_t{device()} % (1u << 19) + (1u << 9)) * 2 + 1;
    while (!is_prime((std::uint64_t{1} << 61) - c)) c += 2;
    return (std::uint64_t{1} << 61) - c;
}();

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
