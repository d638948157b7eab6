#include "bbp.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "bbp_kernels.h"
#include "team.h"

namespace verify {

namespace {

using u64 = std::uint64_t;

// The seven sums of the formula at position d: the factor 2^(4d - 6 + c)
// of sum j, its sign and its denominators a n + b.
struct Term {
    u64 a, b;
    int c;
    bool negative;
};
constexpr Term TERMS[7] = {{4, 1, 5, true},   {4, 3, 0, true},   {10, 1, 8, false}, {10, 3, 6, true},
                           {10, 5, 2, true},  {10, 7, 2, true},  {10, 9, 0, false}};

std::atomic<const BbpKernel*> chosen{nullptr};

const BbpKernel& kernel() {
    const BbpKernel* k = chosen.load();
    if (!k) {
        __builtin_cpu_init();
        if (avx512_bbp() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"))
            k = avx512_bbp();
        else if (avx2_bbp() && __builtin_cpu_supports("avx2"))
            k = avx2_bbp();
        else
            k = &portable_bbp();
        chosen = k;
    }
    return *k;
}

// 2^e mod m, m odd and above 1, by squarings modulo m in 128 bits.
u64 power_of_two(u64 e, u64 m) {
    u64 x = 1 % m;
    for (int bit = 63 - __builtin_clzll(e | 1); bit >= 0; --bit) {
        x = static_cast<u64>(static_cast<u128>(x) * x % m);
        if ((e >> bit) & 1) x = (x << 1) % m;  // x < m < 2^63
    }
    return x;
}

// A term floor(2^128 frac(2^e / m)) with a non-negative power, one at a
// time: the sums' ends and denominators of 2^32 and more.
u128 term(u64 e, u64 m) {
    const u64 r = power_of_two(e, m);
    const u128 high = (static_cast<u128>(r) << 64) / m, rest = (static_cast<u128>(r) << 64) % m;
    return (high << 64) | ((rest << 64) / m);
}

// Sum j's terms n in [from, to), every one with E - 10 n >= 0, added to sum.
void add_range(const Series& s, u64 from, u64 to, Sum128& sum) {
    // The kernel's lanes where every denominator of a batch is below 2^32.
    const u64 lanes = static_cast<u64>(kernel().lanes);
    const u64 small = s.a * to + s.b <= 0xffffffffu ? to : (0xffffffffu - s.b) / s.a + 1;
    u64 n = from;
    // Denominators 1 (n = 0) stay out of Montgomery's method; the kernel's
    // batches start at even n, so that each lane's sign is fixed.
    for (; n < 2 && n < to; ++n) {
        const u128 t = term(s.E - 10 * n, s.a * n + s.b);
        sum.bits = s.negative != ((n & 1) != 0) ? sum.bits - t : sum.bits + t;
    }
    if (small > n && (small - n) / lanes > 0) {
        const u64 batches = (small - n) / lanes;
        kernel().add_terms(s, n, batches, sum);
        n += batches * lanes;
    }
    for (; n < to; ++n) {
        const u128 t = term(s.E - 10 * n, s.a * n + s.b);
        const bool negative = s.negative != ((n & 1) != 0);
        sum.bits = negative ? sum.bits - t : sum.bits + t;
    }
}

}  // namespace

PiFraction pi_fraction(std::uint64_t d, int threads) {
    // The terms with E - 10 n >= 0, n <= E / 10, in every sum: split among
    // the threads in parts of even length, so that each part starts at even n.
    struct Part {
        int j;
        u64 from, to;
    };
    std::vector<Part> parts;
    u64 count = 0;
    const int pieces = std::max(1, threads) * 4;
    for (int j = 0; j < 7; ++j) {
        const std::int64_t E = static_cast<std::int64_t>(4 * d) - 6 + TERMS[j].c;
        if (E < 0) continue;
        const u64 end = static_cast<u64>(E) / 10 + 1;
        count += end;
        for (int p = 0; p < pieces; ++p) {
            const u64 from = end * static_cast<u64>(p) / pieces / 2 * 2, to = p + 1 == pieces ? end : end * static_cast<u64>(p + 1) / pieces / 2 * 2;
            if (to > from) parts.push_back({j, from, to});
        }
    }
    std::vector<Sum128> sums(parts.size());
    std::atomic<std::size_t> next{0};
    mul::Team team(threads);
    team.run([&](int, int) {
        for (std::size_t i; (i = next++) < parts.size();) {
            const Term& t = TERMS[parts[i].j];
            const Series s{t.a, t.b, static_cast<u64>(static_cast<std::int64_t>(4 * d) - 6 + t.c), t.negative};
            add_range(s, parts[i].from, parts[i].to, sums[i]);
        }
    });
    Sum128 total;
    for (const Sum128& s : sums) total.bits += s.bits;
    // The terms with a negative power: 2^(128 + e) / m truncated while
    // 128 + e > 0; after them each sum's terms are below 2^-128 and fall by
    // 2^10 a term, so what is left of the seven is below 7 * 2 units.
    for (int j = 0; j < 7; ++j) {
        const Term& t = TERMS[j];
        const std::int64_t E = static_cast<std::int64_t>(4 * d) - 6 + t.c;
        for (u64 n = E < 0 ? 0 : static_cast<u64>(E) / 10 + 1;; ++n) {
            const std::int64_t e = E - 10 * static_cast<std::int64_t>(n);
            if (128 + e <= 0) break;
            const u128 term = (static_cast<u128>(1) << (128 + e)) / (t.a * n + t.b);
            const bool negative = t.negative != ((n & 1) != 0);
            total.bits = negative ? total.bits - term : total.bits + term;
            ++count;
        }
    }
    // Every term truncated: below a unit each; and the rest.
    return {total.bits, count + 14};
}

const char* bbp_instructions() { return kernel().name; }

bool use_bbp_instructions(const char* name) {
    const BbpKernel* k = nullptr;
    if (!std::strcmp(name, "portable"))
        k = &portable_bbp();
    else if (!std::strcmp(name, "avx2") && avx2_bbp() && __builtin_cpu_supports("avx2"))
        k = avx2_bbp();
    else if (!std::strcmp(name, "avx512") && avx512_bbp() && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512dq"))
        k = avx512_bbp();
    if (!k) return false;
    chosen = k;
    return true;
}

}  // namespace verify
