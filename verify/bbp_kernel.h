// The digit-extraction formula's long sums, written once over a vector V of
// V::lanes 64-bit lanes and compiled once per instruction set, each in a
// namespace of its own (BBP_ISA): include this only from such a file, after
// defining V.
//
// A term is floor(2^128 (2^e mod m) / m) for m = a n + b < 2^32 odd and e =
// E - 10 n >= 0: the first 128 bits of frac(2^e / m), truncated.
//  - 2^e mod m by Montgomery's method with R = 2^32, left to right: a
//    squaring per bit of e (the largest e of the lanes sets the count; a
//    lane whose e is shorter squares R mod m, Montgomery's 1, to itself),
//    and where the bit is set a doubling, which Montgomery's form keeps.
//    x, m < 2^32: t = x^2 < 2^64, u = t (-1/m) mod 2^32, t + u m = 0 mod
//    2^32, and (t + u m) / 2^32 = t_hi + (u m)_hi + [t_lo != 0], below 2m.
//  - The 128 bits as four quotients q = floor(r 2^32 / m), r < m: r 2^32 is
//    exact in a double, its product by 1/m rounded is within 2^-20 of the
//    quotient (below 2^32), so the nearest integer is q or q + 1, and one
//    comparison of the remainder r 2^32 - q m (below 2^33 in magnitude)
//    corrects it.
//  - Each lane adds its quotients in 64-bit sums a word each: below 2^64 for
//    fewer than 2^32 batches.
// Every value compared below is under 2^62, so signed comparisons serve.

#include <cstdint>

#include "bbp.h"

namespace verify {
namespace BBP_ISA {
namespace {

// Terms a batch: eight vectors, independent chains of squarings for the
// processor to overlap.
constexpr int LANES = 8 * V::lanes;
using u64 = std::uint64_t;

// floor(r 2^32 / m), and r 2^32 - q m into r; r < m < 2^32.
inline V divide_step(V& r, V m, V inverse) {
    V estimate = V::nearest(V::mul_pd(V::mul_pd(V::to_double(r), V::set1_pd(0x1p32)), inverse));
    estimate = V::min_small(estimate, V::set1(0xffffffffu));
    const V rest = V::sub(V::shl32(r), V::mul32(estimate, m));  // modulo 2^64: true value below 2^33 in magnitude
    const V low = V::negative(rest), high = V::andnot(low, V::greater(rest, V::sub(m, V::set1(1))));
    r = V::add(V::sub(rest, V::and_(high, m)), V::and_(low, m));
    return V::sub(V::add(estimate, low), high);  // masks are all ones: -1
}

// w >= m ? w - m : w, for w < 2m.
inline V reduce_once(V w, V m) { return V::select(V::greater(m, w), w, V::sub(w, m)); }

inline V montgomery_square(V x, V m, V minus_inverse) {
    const V t = V::mul32(x, x);
    const V u = V::mul32(t, minus_inverse);  // its low 32 bits are what counts
    const V w = V::add(V::add(V::shr32(t), V::shr32(V::mul32(u, m))), V::nonzero_low32(t));
    return reduce_once(w, m);
}

}  // namespace

void add_terms(const Series& s, u64 n0, u64 batches, Sum128& sum) {
    constexpr int VECTORS = LANES / V::lanes;
    V words[4][VECTORS];
    for (auto& k : words)
        for (V& v : k) v = V::set1(0);
    const V one = V::set1(1), two = V::set1(2), low32 = V::set1(0xffffffffu);
    for (u64 batch = 0; batch < batches; ++batch) {
        const u64 first = n0 + batch * LANES;
        alignas(64) u64 lane_n[LANES];
        for (int l = 0; l < LANES; ++l) lane_n[l] = first + static_cast<u64>(l);
        V m[VECTORS], e[VECTORS], minus_inverse[VECTORS], inverse[VECTORS], x[VECTORS];
        for (int v = 0; v < VECTORS; ++v) {
            const V n = V::load(lane_n + v * V::lanes);
            m[v] = V::add(V::mul32(n, V::set1(s.a)), V::set1(s.b));
            e[v] = V::sub(V::set1(s.E), V::mul32(n, V::set1(10)));
            inverse[v] = V::div_pd(V::set1_pd(1.0), V::to_double(m[v]));
            // 1/m mod 2^32 by Newton's iteration from m, right to 3 bits for
            // odd m; each step doubles the bits.
            V y = m[v];
            for (int k = 0; k < 4; ++k) y = V::and_(V::mul32(y, V::sub(two, V::mul32(m[v], y))), low32);
            minus_inverse[v] = V::and_(V::sub(V::set1(0), y), low32);
            // R mod m = 2^32 - floor(2^32 / m) m: Montgomery's 1.
            V r = one;
            divide_step(r, m[v], inverse[v]);
            x[v] = r;
        }
        const int top = 63 - __builtin_clzll((s.E - 10 * first) | 1);  // e falls with n: the first is the largest
        for (int bit = top; bit >= 0; --bit) {
            const V mask = V::set1(u64{1} << bit);
            for (int v = 0; v < VECTORS; ++v) {
                const V y = montgomery_square(x[v], m[v], minus_inverse[v]);
                x[v] = V::select(V::has_bit(e[v], mask), reduce_once(V::add(y, y), m[v]), y);
            }
        }
        for (int v = 0; v < VECTORS; ++v) {
            // Out of Montgomery's form: (x + u m) / 2^32, u = x (-1/m) mod 2^32.
            const V u = V::mul32(x[v], minus_inverse[v]);
            V r = reduce_once(V::add(V::shr32(V::mul32(u, m[v])), V::nonzero_low32(x[v])), m[v]);
            for (auto& k : words) k[v] = V::add(k[v], divide_step(r, m[v], inverse[v]));
        }
    }
    // Lane l's terms have the sign of (-1)^(n0 + l) times the series'.
    alignas(64) u64 lane_words[4][LANES];
    for (int k = 0; k < 4; ++k)
        for (int v = 0; v < VECTORS; ++v) V::store(lane_words[k] + v * V::lanes, words[k][v]);
    for (int l = 0; l < LANES; ++l) {
        const u128 lane = (static_cast<u128>(lane_words[0][l]) << 96) + (static_cast<u128>(lane_words[1][l]) << 64) +
                          (static_cast<u128>(lane_words[2][l]) << 32) + lane_words[3][l];
        const bool negative = s.negative != (((n0 + static_cast<u64>(l)) & 1) != 0);
        sum.bits = negative ? sum.bits - lane : sum.bits + lane;
    }
}

}  // namespace BBP_ISA
}  // namespace verify
