#include "check.h"

#include <cstdint>

#include "primes.h"
#include "team.h"

namespace mul {

namespace {

constexpr int BLOCK = 32;  // words a residue takes at once

struct Modulus {
    std::uint64_t d, q;
    std::uint64_t word;             // 2^64 mod q
    std::uint64_t weight[BLOCK];    // 2^(64 j) mod q
    std::uint64_t block_weight;     // 2^(64 BLOCK) mod q
};

Modulus choose_modulus() {
    const std::uint64_t q = random_prime_below_2_61();
    Modulus m{};
    m.d = (std::uint64_t{1} << 61) - q;
    m.q = q;
    m.word = (8 * m.d) % m.q;  // 2^64 = 8 d (mod q), as 2^61 = d
    m.weight[0] = 1;
    for (int j = 1; j < BLOCK; ++j) m.weight[j] = mul_mod(m.weight[j - 1], m.word, m.q);
    m.block_weight = mul_mod(m.weight[BLOCK - 1], m.word, m.q);
    return m;
}

const Modulus& modulus() {
    static const Modulus m = choose_modulus();
    return m;
}

constexpr std::uint64_t LOW61 = (std::uint64_t{1} << 61) - 1;

// t < 2^128 as h 2^61 + l becomes h d + l, congruent mod q and below
// 2^67 2^20 + 2^61 < 2^88.
u128 fold_once(u128 t, const Modulus& m) { return (t >> 61) * m.d + (static_cast<std::uint64_t>(t) & LOW61); }

// t < 2^128 folded twice: below 2^27 2^20 + 2^61 < 2^62.
std::uint64_t fold(u128 t, const Modulus& m) { return static_cast<std::uint64_t>(fold_once(fold_once(t, m), m)); }

// {x, n} mod q. Blocks of 32 words from the top: a block's value mod q is
// sum_j x_j (2^(64 j) mod q), independent products in four sums of eight
// (a product is below 2^125, so eight stay below 2^128), each folded once;
// the blocks join by Horner's rule with 2^2048 mod q, r 2^2048 below 2^62
// 2^61 and the whole below 2^126 before its two folds. The words below the
// last whole block join one at a time with 2^64 mod q.
// One block's sum_j b_j 2^(64 j), congruent mod q and below 2^90.
u128 block_sum(const mp_limb_t* b, const Modulus& m) {
    u128 sum[4] = {0, 0, 0, 0};
    for (int j = 0; j < BLOCK; j += 4)
        for (int s = 0; s < 4; ++s) sum[s] += static_cast<u128>(b[j + s]) * m.weight[j + s];
    return fold_once(sum[0], m) + fold_once(sum[1], m) + fold_once(sum[2], m) + fold_once(sum[3], m);
}

std::uint64_t residue(const mp_limb_t* x, std::size_t n, const Modulus& m) {
    const std::uint64_t word = m.word, block_weight = m.block_weight;
    const std::size_t low = n % BLOCK;
    std::uint64_t r = 0;
    for (std::size_t i = n; i > low; i -= BLOCK)
        r = fold(static_cast<u128>(r) * block_weight + block_sum(x + i - BLOCK, m), m);
    for (std::size_t i = low; i-- > 0;) r = fold(static_cast<u128>(r) * word + x[i], m);
    return r % m.q;
}

}  // namespace

void Dropped::add(const mp_limb_t* x, std::size_t n) {
    const Modulus& m = modulus();
    if (n == BLOCK) {  // the common case, without a power's making
        residue_ = (residue_ + mul_mod(fold(block_sum(x, m), m) % m.q, weight_, m.q)) % m.q;
        weight_ = mul_mod(weight_, m.block_weight, m.q);
    } else {
        residue_ = (residue_ + mul_mod(mul::residue(x, n, m), weight_, m.q)) % m.q;
        weight_ = mul_mod(weight_, pow_mod(m.word, n, m.q), m.q);
    }
}

void Dropped::add_at(std::uint64_t residue, std::size_t at) {
    residue_ = check_add(residue_, check_mul(residue, check_word_power(at)));
}

void Dropped::cover(std::size_t words) { weight_ = check_word_power(words); }

std::uint64_t check_residue(const mp_limb_t* x, std::size_t n) { return residue(x, n, modulus()); }
std::uint64_t check_word_power(std::size_t n) { return pow_mod(modulus().word, n, modulus().q); }
std::uint64_t check_add(std::uint64_t a, std::uint64_t b) { return (a + b) % modulus().q; }
std::uint64_t check_mul(std::uint64_t a, std::uint64_t b) { return mul_mod(a, b, modulus().q); }

bool product_holds(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                   const mp_limb_t* r, std::size_t n, int threads, const Dropped* dropped) {
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
        const std::uint64_t shift = pow_mod(m.word, half, m.q);  // 2^(64 half)
        rr = (rr + mul_mod(part[1], shift, m.q)) % m.q;
    }
    if (dropped) {
        if (!dropped->consistent()) return false;
        rr = (dropped->residue() + mul_mod(rr, dropped->weight(), m.q)) % m.q;
    }
    return mul_mod(ra, rb, m.q) == rr;
}

}  // namespace mul
