#include "remainder.h"

#include <algorithm>
#include <cstring>

#include "dispatch.h"
#include "kernels.h"

namespace mul {

namespace {

// Adds x << s, x of n words, at word o of {r, hi}; words at hi and above
// go to spill (16 words), so that parts of the product summed side by side
// never write the same word. Words from `zeroed` up are not yet part of the
// sum (they may hold anything): each is zeroed as the sum first reaches it.
// (add_coefficient has the common case, far from hi, in registers.)
void add_shifted(mp_limb_t* r, std::size_t hi, std::size_t& zeroed, mp_limb_t* spill, std::size_t o,
                 const std::uint64_t* x, int n, unsigned s) {
    for (const std::size_t reach = std::min(hi, o + n + 1); zeroed < reach;) r[zeroed++] = 0;
    std::uint64_t carry = 0, previous = 0;
    std::size_t w = o;
    for (int l = 0; l <= n; ++l, ++w) {
        const std::uint64_t word = l < n ? x[l] : 0;
        const std::uint64_t shifted = s ? (word << s) | (previous >> (64 - s)) : word;
        previous = word;
        mp_limb_t* target = w < hi ? &r[w] : &spill[w - hi];
        const std::uint64_t sum = *target + shifted;
        const std::uint64_t c1 = sum < shifted;
        *target = sum + carry;
        carry = c1 + (*target < sum);
    }
    for (; carry; ++w) {
        if (w == zeroed && w < hi) r[zeroed++] = 0;
        mp_limb_t* target = w < hi ? &r[w] : &spill[w - hi];
        carry = ++*target == 0;
    }
}

// Words of a coefficient below P < 2^(50 np).
constexpr int coefficient_words(int np) { return (50 * np + 63) / 64; }

// Coefficient i, y_0 + p_0 (y_1 + p_1 (...)) from its mixed-radix digits,
// into x[0, coefficient_words(NP)), the top words perhaps zero. Every width
// is fixed, so that x stays in registers.
template <int NP>
inline void coefficient(const Digits& d, std::size_t i, std::uint64_t* x) {
    constexpr int WORDS = coefficient_words(NP);
    const std::size_t at = padded(i, d.column_bits);
    // Digits lie in [0, p): through a signed conversion, without the
    // unsigned one's test for 2^63.
    const auto digit = [&](int q) { return static_cast<std::uint64_t>(static_cast<std::int64_t>(d.y[q][at])); };
    x[0] = digit(NP - 1);
    for (int l = 1; l < WORDS; ++l) x[l] = 0;
#pragma GCC unroll 8
    for (int q = NP - 2; q >= 0; --q) {
        const int n = coefficient_words(NP - 1 - q);  // the value so far is below 2^(50 (NP - 1 - q))
        const std::uint64_t p = d.p[q].p;
        u128 carry = digit(q);
#pragma GCC unroll 8
        for (int l = 0; l < n; ++l) {
            const u128 t = static_cast<u128>(x[l]) * p + carry;
            x[l] = static_cast<std::uint64_t>(t);
            carry = t >> 64;
        }
        if (n < WORDS) x[n] = static_cast<std::uint64_t>(carry);
    }
}

// The coefficient whose words are x[0], x[STRIDE], ... added at word o,
// bit s, of {r, hi}, as add_shifted does.
template <int NP, int STRIDE>
void add_words(mp_limb_t* r, std::size_t hi, std::size_t& zeroed, mp_limb_t* spill, std::size_t o,
               const std::uint64_t* words, unsigned s) {
    constexpr int WORDS = coefficient_words(NP);
    std::uint64_t x[WORDS];
#pragma GCC unroll 8
    for (int l = 0; l < WORDS; ++l) x[l] = words[l * STRIDE];
    if (o + WORDS + 1 >= hi) {
        add_shifted(r, hi, zeroed, spill, o, x, WORDS, s);
        return;
    }
    // All inside: the common case, in registers.
    while (zeroed < o + WORDS + 1) r[zeroed++] = 0;
    unsigned char carry = 0;
    std::uint64_t previous = 0;
#pragma GCC unroll 8
    for (int l = 0; l <= WORDS; ++l) {
        const std::uint64_t word = l < WORDS ? x[l] : 0;
        // (word << s) | (previous >> (64 - s)), without a shift by 64
        const std::uint64_t shifted = (word << s) | ((previous >> 1) >> (63 - s));
        previous = word;
        const u128 sum = static_cast<u128>(r[o + l]) + shifted + carry;
        r[o + l] = static_cast<std::uint64_t>(sum);
        carry = static_cast<unsigned char>(sum >> 64);
    }
    std::size_t w = o + WORDS + 1;
    for (; carry && w < hi; ++w) {
        if (w == zeroed) r[zeroed++] = 0;
        carry = ++r[w] == 0;
    }
    for (std::size_t k = 0; carry; ++k) carry = ++spill[k] == 0;
}

// Coefficient i added at word o, bit s, of {r, hi}.
template <int NP>
void add_coefficient(mp_limb_t* r, std::size_t hi, std::size_t& zeroed, mp_limb_t* spill, std::size_t o,
                     const Digits& d, std::size_t i, unsigned s) {
    std::uint64_t x[coefficient_words(NP)];
    coefficient<NP>(d, i, x);
    add_words<NP, 1>(r, hi, zeroed, spill, o, x, s);
}

// P_q = p_0 ... p_{q-1} in 52-bit limbs, q < MAX_PRIMES (P_7 < 2^350: seven
// limbs): the weights of the mixed-radix digits for the batches.
struct Weights {
    std::uint64_t limbs[MAX_PRIMES][8];
};
const Weights& digit_weights() {
    static const Weights weights = [] {
        Weights w{};
        mpz_t product, rest;
        mpz_init_set_ui(product, 1);
        mpz_init(rest);
        for (int q = 0; q < MAX_PRIMES; ++q) {
            mpz_set(rest, product);
            for (int j = 0; j < 8; ++j) {
                w.limbs[q][j] = mpz_getlimbn(rest, 0) & ((std::uint64_t{1} << 52) - 1);
                mpz_fdiv_q_2exp(rest, rest, 52);
            }
            mpz_mul_ui(product, product, primes()[q].p);
        }
        mpz_clears(product, rest, nullptr);
        return w;
    }();
    return weights;
}

// How the remaindering makes and adds the coefficients of a plan with np
// primes: one at a time, or eight at a time where the AVX-512 kernels are
// in use and the processor has IFMA, each then added from the batch's words.
struct Remaindering {
    void (*add)(mp_limb_t*, std::size_t, std::size_t&, mp_limb_t*, std::size_t, const Digits&, std::size_t,
                unsigned);
    CoefficientBatch batch;
    void (*add_from_batch)(mp_limb_t*, std::size_t, std::size_t&, mp_limb_t*, std::size_t, const std::uint64_t*,
                           unsigned);
    const Weights* weights;
};

Remaindering remaindering(int np) {
    static constexpr decltype(Remaindering::add) adders[MAX_PRIMES + 1] = {
        nullptr,           nullptr,           add_coefficient<2>, add_coefficient<3>, add_coefficient<4>,
        add_coefficient<5>, add_coefficient<6>, add_coefficient<7>, add_coefficient<8>};
    static constexpr decltype(Remaindering::add_from_batch) from_batch[MAX_PRIMES + 1] = {
        nullptr,         nullptr,         add_words<2, 8>, add_words<3, 8>, add_words<4, 8>,
        add_words<5, 8>, add_words<6, 8>, add_words<7, 8>, add_words<8, 8>};
    static const bool ifma = __builtin_cpu_supports("avx512ifma");
    Remaindering r{adders[np], nullptr, from_batch[np], nullptr};
    if (ifma && ifma_batches() && &kernels() == avx512_kernels()) {
        r.batch = ifma_batches()[np];
        r.weights = &digit_weights();
    }
    return r;
}

// Coefficients [from, to) made and handed in order to place(i, add), where
// add(r, hi, zeroed, spill, o, s) adds coefficient i at word o, bit s, of
// {r, hi}, as add_shifted does. Eight are made at once where the batch
// kernel is in use, each read whole before any is placed.
template <typename Place>
void each_coefficient(const Digits& digits, std::size_t from, std::size_t to, Place place) {
    const Remaindering rem = remaindering(digits.np);
    alignas(64) std::uint64_t words[8 * 8];
    for (std::size_t i = from; i < to;) {
        if (rem.batch && i % 8 == 0 && i + 8 <= to) {
            rem.batch(digits.y, rem.weights->limbs, padded(i, digits.column_bits), words);
            for (int lane = 0; lane < 8; ++lane, ++i)
                place(i, [&](mp_limb_t* r, std::size_t hi, std::size_t& zeroed, mp_limb_t* spill, std::size_t o,
                             unsigned s) { rem.add_from_batch(r, hi, zeroed, spill, o, words + lane, s); });
        } else {
            place(i, [&](mp_limb_t* r, std::size_t hi, std::size_t& zeroed, mp_limb_t* spill, std::size_t o,
                         unsigned s) { rem.add(r, hi, zeroed, spill, o, digits, i, s); });
            ++i;
        }
    }
}

}  // namespace

// The product's words [lo, hi) from the mixed-radix digits of coefficients
// [from, to), each added at bit i b; r holds word `base` on (base <= lo).
// Coefficient i is read whole before any word is written, and no word from
// (i b / 64) + 10 up is written then (the sum zeroed as it grows; a carry
// into a fresh word stops there).
void accumulate(mp_limb_t* r, std::size_t base, std::size_t lo, std::size_t hi, mp_limb_t* spill,
                const Digits& digits, unsigned b, std::size_t from, std::size_t to) {
    std::size_t zeroed = lo - base;
    each_coefficient(digits, from, to, [&](std::size_t i, auto add) {
        const std::size_t bit = i * b;
        add(r, hi - base, zeroed, spill, bit / 64 - base, bit % 64);
    });
    if (zeroed < hi - base) std::memset(r + zeroed, 0, (hi - base - zeroed) * sizeof(mp_limb_t));
}

// A dropped part (hi - lo >= BOTTOM): its coefficients summed in a window
// of words that slides up with them (a word below a coefficient's first word
// is final in the part's sum), each word above the bottom joined to the
// middle's residue as it leaves the window; its words from hi up (16 at
// most) go to spill.
void accumulate_below(const Digits& digits, unsigned b, const Part& part, Below& out, mp_limb_t* spill) {
    // Writes stay below SLIDE + 3 + 10 words: a coefficient starts at most
    // three words above the one before (b <= 192). SLIDE words are a check block.
    constexpr std::size_t WINDOW = 64, SLIDE = 32;
    mp_limb_t window[WINDOW], beyond[16] = {0};
    std::size_t start = part.lo, zeroed = 0;  // window[0] is word `start`
    out.ones = ~std::uint64_t{0};
    const auto drop = [&](std::size_t words) {
        if (zeroed < words) {
            std::memset(window + zeroed, 0, (words - zeroed) * sizeof(mp_limb_t));
            zeroed = words;
        }
        std::size_t bottom = 0;  // of these words
        for (std::size_t w = 0; w < words; ++w) {
            const std::size_t at = start + w - part.lo;
            if (at < BOTTOM) {
                out.bottom[at] = window[w];
                ++bottom;
            } else {
                out.ones &= window[w];
            }
        }
        out.middle.add(window + bottom, words - bottom);
        std::memmove(window, window + words, (zeroed - words) * sizeof(mp_limb_t));
        zeroed -= words;
        start += words;
    };
    each_coefficient(digits, part.first, part.last, [&](std::size_t i, auto add) {
        const std::size_t bit = i * b, o = bit / 64;
        while (o - start >= SLIDE) drop(SLIDE);
        add(window, WINDOW, zeroed, beyond, o - start, bit % 64);
    });
    drop(part.hi - start);
    std::fill(spill, spill + 16, mp_limb_t{0});
    std::memcpy(spill, window, zeroed * sizeof(mp_limb_t));
}

// The dropped parts' sums [0, count) joined lowest first, each with the
// carry from those below: into the residue of the words left out (low,
// covering the parts' words) and the carry into the first word kept
// (carry). The residue is that of the words the joins make, each part's
// bottom with the carry in and its middle with the carry that passes into
// it, never the sums' less a carry: so the check then covers the carry
// added to the words kept. Where the AND of a middle and its residue
// disagree on whether a carry passes it, low is marked inconsistent.
void join_dropped(const Part* parts, int count, const Below* below, const mp_limb_t* spills, Dropped* low,
                  mp_limb_t carry[BOTTOM]) {
    std::fill(carry, carry + BOTTOM, mp_limb_t{0});
    for (int j = 0; j < count; ++j) {
        const Below& part = below[j];
        const std::size_t middle_words = parts[j].hi - parts[j].lo - BOTTOM;
        mp_limb_t sum[BOTTOM];
        const bool into_middle = mpn_add_n(sum, part.bottom, carry, BOTTOM) != 0;
        const bool through = into_middle && part.ones == ~std::uint64_t{0};
        // A middle of all ones has the residue of 2^(64 middle_words) - 1.
        if (into_middle && through != (check_add(part.middle.residue(), 1) == check_word_power(middle_words)))
            low->mark_inconsistent();
        // The middle with the carry in: its words plus 1, less 2^(64
        // middle_words) where the carry passes it.
        std::uint64_t middle = check_add(part.middle.residue(), into_middle ? 1 : 0);
        if (through) middle = 0;
        low->add_at(check_add(check_residue(sum, BOTTOM), check_mul(middle, check_word_power(BOTTOM))),
                    parts[j].lo);
        std::copy(spills + 16 * j, spills + 16 * (j + 1), carry);
        carry[16] = 0;
        if (through) mpn_add_1(carry, carry, BOTTOM, 1);
    }
    low->cover(parts[count - 1].hi);
}

void join_kept(const Part* parts, int count, const mp_limb_t* spills, mp_limb_t* const* r,
               const std::size_t* base, const std::size_t* n) {
    for (int task = 0; task < count; ++task) {
        const Part& part = parts[task];
        const std::size_t at = part.hi, j = static_cast<std::size_t>(part.j);
        if (at < n[j])
            mpn_add(r[j] + (at - base[j]), r[j] + (at - base[j]), static_cast<mp_size_t>(n[j] - at),
                    spills + 16 * task, static_cast<mp_size_t>(std::min<std::size_t>(16, n[j] - at)));
    }
}

}  // namespace mul
