#include "mul.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "check.h"
#include "kernels.h"
#include "primes.h"
#include "team.h"

namespace mul {

namespace {

// Where the transform takes over from GMP, by processor and instruction
// set: products of at least `total` limbs whose shorter operand has at least
// `shorter`. Engine time over GMP's, medians of nine (single runs vary by
// 10 %):
// - Intel Xeon (Rocket Lake), AVX-512: balanced 0.95 at 1,600 x 1,600 and
//   1.2 at 2,500; squares 0.87 at 1,600^2, 0.99 at 2,000^2, 1.10 at
//   2,500^2; 4n x n 0.89 at n = 500, 1.11 at 700. AVX2: balanced 0.91 at
//   2,000 and 1.10 at 2,500; squares 1.00 at 2,500^2; 4n x n 0.96 at n =
//   700, 1.10 at 1,000. Its 512-bit fused multiply-adds run at only 1.4
//   times the 256-bit ones' rate.
// - AMD EPYC (Zen 5), AVX-512: balanced 1.00 at 600 x 600, 0.85 at 700, 0.69
//   at 1,000; squares 1.00 at 600^2, 0.94 at 700^2, 0.90 at 1,000^2; 1,000 x
//   250 0.92, 4,000 x 200 0.87. AVX2: balanced 0.94 at 1,000, 0.84 at 1,500;
//   squares 1.17 at 1,000^2, 0.88 at 1,500^2; 2,000 x 300 0.91, 4,000 x 400
//   0.78.
// Other processors take Intel's, the cautious ones. The portable kernels,
// one lane with library calls for the fused products, are 5 to 14 times
// slower than GMP at every size: they multiply only where chosen on purpose
// (tests, benchmarks).
struct Threshold {
    std::size_t total, shorter;
};
constexpr Threshold INTEL_AVX512{4000, 600}, INTEL_AVX2{5000, 800}, AMD_AVX512{1400, 250}, AMD_AVX2{2600, 400};

Threshold threshold(const Kernels& k) {
    static const bool amd = (__builtin_cpu_init(), __builtin_cpu_is("amd"));
    if (&k == avx512_kernels()) return amd ? AMD_AVX512 : INTEL_AVX512;
    return amd ? AMD_AVX2 : INTEL_AVX2;
}
std::atomic<bool> chosen{false};  // use_instructions was called
std::atomic<std::size_t> test_total{0}, test_shorter{0};

// Chunk widths up to 192 bits, four 48-bit pieces.
constexpr unsigned MAX_CHUNK_BITS = 192;
constexpr int MIN_K = 6, MAX_K = 2 * TABLE_BITS;

std::atomic<const Kernels*> active{nullptr};
std::atomic<std::uint64_t> failures{0}, refailures{0};
std::atomic<bool> damage{false}, damage_carry{false};

const Kernels& kernels() {
    const Kernels* k = active.load();
    if (!k) {
        __builtin_cpu_init();
        if (avx512_kernels() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"))
            k = avx512_kernels();
        else if (avx2_kernels() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
            k = avx2_kernels();
        else
            k = &portable_kernels();
        active = k;
    }
    return *k;
}

// Scratch blocks from GMP's allocator, so that a program's out-of-memory
// handling covers them too. The last block released is kept for the next
// product: a fresh block's pages cost the system their zeroing, about a
// fifth of a long product's time. A kept block smaller than a product needs
// is released first, so the scratch alive stays one product's.
std::mutex kept_mutex;
double* kept = nullptr;
std::size_t kept_bytes = 0;

void* allocate_block(std::size_t bytes) {
    void* (*allocate)(size_t);
    mp_get_memory_functions(&allocate, nullptr, nullptr);
    return allocate(bytes);
}

void release_block(void* data, std::size_t bytes) {
    void (*release)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(data, bytes);
}

// A scratch block done with: kept for the next product unless the kept one
// is at least as large.
void keep_or_release(double* data, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept && kept_bytes >= bytes) {
        release_block(data, bytes);
    } else {
        if (kept) release_block(kept, kept_bytes);
        kept = data;
        kept_bytes = bytes;
    }
}

// The four-step passes stride across the whole block, one 64-byte row per
// 4 KiB page and more: with small pages nearly every row misses the
// translation buffers. Huge pages, where the system gives them on request.
void ask_for_huge_pages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t HUGE = std::uintptr_t{1} << 21;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(data) + HUGE - 1) & ~(HUGE - 1),
                         to = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(HUGE - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

struct Block {
    double* data = nullptr;
    std::size_t bytes = 0;
    explicit Block(std::size_t doubles) : bytes(doubles * sizeof(double)) {
        {
            std::lock_guard<std::mutex> lock(kept_mutex);
            if (kept && kept_bytes >= bytes) {
                data = kept;
                bytes = kept_bytes;
                kept = nullptr;
                return;
            }
            if (kept) release_block(kept, kept_bytes);
            kept = nullptr;
        }
        data = static_cast<double*>(allocate_block(bytes));
        ask_for_huge_pages(data, bytes);
    }
    ~Block() {
        if (data) keep_or_release(data, bytes);
    }
    Block(Block&& other) noexcept : data(other.data), bytes(other.bytes) { other.data = nullptr; }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    Block& operator=(Block&&) = delete;
};

// How a product is cut: np primes, chunks of b bits, transforms of 2^k.
struct Plan {
    int np;
    unsigned b;
    int k;
};

std::size_t chunks(std::size_t limbs, unsigned b) { return (limbs * 64 + b - 1) / b; }

// The work of `transforms` transforms and `products` remainderings by a
// plan. Units: one butterfly per coefficient and level; the remaindering
// about np^2 / 2 products and a few words' work. A team shares every
// prime's work evenly (see transform_products).
double plan_cost(const Plan& plan, double transforms, int products) {
    const double L = std::ldexp(1.0, plan.k), np = plan.np;
    return L * (np * transforms * (plan.k + 2) + products * (0.5 * np * np + 3.0 * np));
}

// The cheapest plan that is exact. A coefficient of the product of chunk
// sequences of lengths na, nb is a sum of min(na, nb) products of two chunks
// below 2^b, so below min(na, nb) 2^(2b); the remaindering recovers it
// exactly when that is below P = p_0 ... p_(np-1). With np primes to choose
// from and b free, the coefficient count rarely lands just past a power of
// two: a product a little longer takes one prime more rather than a
// transform twice as long.
Plan choose_plan(std::size_t an, std::size_t bn, bool square) {
    const Prime* p = primes();
    double log2_P[MAX_PRIMES + 1] = {0};
    for (int q = 0; q < MAX_PRIMES; ++q) log2_P[q + 1] = log2_P[q] + std::log2(static_cast<double>(p[q].p));
    const int transforms = square ? 2 : 3;
    Plan best{0, 0, 0};
    double best_cost = 0;
    for (int k = MIN_K; k <= MAX_K; ++k) {
        const std::size_t L = std::size_t{1} << k;
        for (int np = 2; np <= MAX_PRIMES; ++np) {
            unsigned b = static_cast<unsigned>((64 * (an + bn) + L) / (L + 1));
            if (b == 0) b = 1;
            while (b <= MAX_CHUNK_BITS && chunks(an, b) + chunks(bn, b) - 1 > L) ++b;
            if (b > MAX_CHUNK_BITS) continue;
            const double shorter = static_cast<double>(std::min(chunks(an, b), chunks(bn, b)));
            // 2^-20 of a bit covers the rounding of the logarithms.
            if (std::log2(shorter) + 2.0 * b > log2_P[np] - 0x1p-20) continue;
            const double cost = plan_cost({np, b, k}, transforms, 1);
            if (best.np == 0 || cost < best_cost) {
                best = {np, b, k};
                best_cost = cost;
            }
        }
        if (best.np != 0 && k > best.k + 2) break;
    }
    return best;
}

// Twiddles of (prime, length, direction), made once and kept.
Twiddles twiddles(int q, int k, bool inverse) {
    static std::mutex mutex;
    static std::vector<double> made[MAX_PRIMES][MAX_K + 1][2];
    const int row_bits = k / 2;
    prepare_roots(k - row_bits);  // the longer sub-transform, C = 2^(k - row_bits)
    const std::size_t R = std::size_t{1} << row_bits;
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<double>& table = made[q][k][inverse];
    if (table.empty()) {
        const Prime& prime = primes()[q];
        const std::uint64_t p = prime.p;
        std::uint64_t w = pow_mod(prime.root, std::uint64_t{1} << (32 - k), p);
        std::uint64_t f = 1;
        if (inverse) {
            w = pow_mod(w, p - 2, p);
            f = pow_mod(std::uint64_t{1} << k, p - 2, p);
        }
        std::vector<std::uint64_t> power(R);
        power[0] = 1;
        const std::uint64_t w_shoup = shoup_factor(w, p);
        for (std::size_t m = 1; m < R; ++m) power[m] = mul_mod_shoup(power[m - 1], w, w_shoup, p);
        table.resize(9 * R);
        for (std::size_t j = 0; j < R; ++j) {
            std::size_t rev = 0;
            for (int bit = 0; bit < row_bits; ++bit) rev |= ((j >> bit) & 1) << (row_bits - 1 - bit);
            const std::uint64_t base = power[rev], base_shoup = shoup_factor(base, p);
            std::uint64_t x = f, eighth = 1;
            for (int i = 0; i < 8; ++i) {
                table[8 * j + i] = signed_residue(x, p);
                x = mul_mod_shoup(x, base, base_shoup, p);
                eighth = mul_mod_shoup(eighth, base, base_shoup, p);
            }
            table[8 * R + j] = signed_residue(eighth, p);
        }
    }
    return {k, row_bits, table.data(), table.data() + 8 * R};
}

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

// The mixed-radix digits the remaindering reads: y[q][padded(i)], q < np.
struct Digits {
    double* const* y;
    int np;
    const Prime* p;
    int column_bits;
};

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

// A part of the remaindering: coefficients [first, last) of product j,
// summed from word lo = first b / 64 (first a multiple of 8, so that no two
// parts share a batch), their carries above word hi (the next part's lo)
// added to the next part afterwards. A part wholly below the words kept is
// summed in a window instead and leaves only what the carries and the check
// need (Below).
struct Part {
    int j;
    std::size_t first, last, lo, hi;
    bool dropped;
};

// What a dropped part leaves: its lowest BOTTOM words, the AND and the
// residue of those above them (its middle, words [BOTTOM, hi - lo)); its
// words from hi up go to the spill. The carry that comes into it from the
// parts below (16 words and a bit) reaches its middle only where that is
// all ones, and then only as a carry into its spill.
constexpr std::size_t BOTTOM = 17;
struct Below {
    mp_limb_t bottom[BOTTOM];
    std::uint64_t ones;
    Dropped middle;
};

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

// A team takes the primes a thread each in turn, as many as divide evenly;
// the primes left over it shares, every pass split among the threads with
// barriers between the passes, so that every thread has equal work. From
// transforms of 2^INNER_K on every prime is shared: one operand's transform
// at a time is then kept instead of one per thread.
constexpr int INNER_K = 24;

// The remaindering's parts a thread, where several share it, and at most
// in all.
constexpr int REMAINDERING_PARTS = 8, MAX_PARTS = 128;

// Threads worth starting for a transform of 2^k: none below 2^14, where
// starting them costs more than they save.
int useful_threads(int threads, const Plan& plan) { return plan.k < 14 ? 1 : std::max(1, threads); }

// Primes a team of `size` takes a thread each.
int paired_primes(const Plan& plan, int size) { return plan.k >= INNER_K ? 0 : plan.np - plan.np % size; }

// Below transforms of 2^WHOLE_K the other operand's residues for every
// prime are kept at once (a few MiB), so that its chunks are cut once, not
// once a prime: the cutting costs about as much as a short transform.
constexpr int WHOLE_K = 16;

// Two products with an operand in common share its transform up to
// transforms of 2^PAIR_MAX_K: both products' residues are held at once.
constexpr int PAIR_MAX_K = 18;

// The other operand's transforms kept at once: one per prime (short
// products), one per thread (primes taken a thread each), or one.
int other_transforms(const Plan& plan, bool square, int threads) {
    if (square) return 0;
    if (plan.k < WHOLE_K) return plan.np;
    return paired_primes(plan, threads) > 0 ? threads : 1;
}

// The scratch block: [front | residues, np arrays a product | others |
// buffers], an array R (C + ROW_PAD) doubles. A product kept in the block has its `held`
// top words at the front, from word 0 on; on one thread they run on into
// the first prime's residues, which the remaindering reads ahead of its
// writes (see accumulate): the front is then held - coefficients + 10 words
// (b >= 64: coefficient i starts at word i b / 64 >= i, and its digit lies
// at padded(i) >= i). The other operand's transforms go in the front where
// they fit (it is free until the remaindering), else after the residues.
struct Layout {
    std::size_t front, residues, others, buffers, doubles;
};

Layout layout(const Plan& plan, bool square, int threads, int products, std::size_t an, std::size_t bn,
              std::size_t held) {
    const std::size_t L = std::size_t{1} << plan.k, R = std::size_t{1} << (plan.k / 2), C = L / R;
    const std::size_t array = R * (C + ROW_PAD), residues = products * plan.np * array;
    const std::size_t coefficients = chunks(an, plan.b) + chunks(bn, plan.b) - 1;
    std::size_t front = held;
    if (held > 0 && threads == 1 && plan.b >= 64) front = held + 10 - std::min(coefficients, held + 10);
    const std::size_t other_doubles = other_transforms(plan, square, threads) * array;
    Layout at{};
    at.front = front;
    at.residues = front;
    at.others = other_doubles <= front ? 0 : front + residues;
    at.buffers = front + residues + (other_doubles <= front ? 0 : other_doubles);
    at.doubles = std::max(at.buffers + threads * kernel_scratch_doubles(R, C), held);
    return at;
}

// Doubles of scratch for a product into a buffer of the caller's: the
// residues, the other operand's transforms, each thread's buffers.
std::size_t scratch_doubles(const Plan& plan, bool square, int threads, int products = 1) {
    return layout(plan, square, threads, products, 0, 0, 0).doubles;
}

// One of the products a transform makes: {r, an + bn} <- {a, an} {b, bn},
// b the operand they all share.
struct Factor {
    mp_limb_t* r;
    const mp_limb_t* a;
    std::size_t an;
};

// The transform's products of f[j].a, j < count (1 or 2), by b, into f[j].r
// (or, where f[0].r is null and count is 1, into the front of the block it
// returns); b's transform is made once for them all. b null: the square of
// f[0].a. Where f[0].r is null, the words below `skip` (at most an + bn -
// 64) may be left out: skip is set to those left out, the words from skip
// up are kept from word 0 of the block on, and those below go to `dropped`.
Block transform_products(const Factor* f, int count, const mp_limb_t* b, std::size_t bn, int threads,
                         std::size_t& skip, Dropped* dropped) {
    const bool square = b == nullptr;
    if (square) bn = f[0].an;
    std::size_t longest = 0;
    for (int j = 0; j < count; ++j) longest = std::max(longest, f[j].an);
    const Plan plan = choose_plan(longest, bn, square);  // exact for each of them too
    // Everything the team shares is sized from the threads that joined it.
    Team team(useful_threads(threads, plan));
    threads = team.size();
    const Kernels& kern = kernels();
    const Prime* p = primes();
    const std::size_t L = std::size_t{1} << plan.k, R = std::size_t{1} << (plan.k / 2), C = L / R;
    const std::size_t array = R * (C + ROW_PAD);
    const int column_bits = plan.k - plan.k / 2;
    const std::size_t per_thread = kernel_scratch_doubles(R, C);
    const std::size_t coefficients[2] = {
        chunks(f[0].an, plan.b) + chunks(bn, plan.b) - 1,
        count > 1 ? chunks(f[1].an, plan.b) + chunks(bn, plan.b) - 1 : 0};
    // The coefficients below the words kept, a multiple of 8 (the most that
    // start at or below word skip), and the word the next starts at, which
    // is then the first kept: 0 where that would drop fewer than 128 words.
    std::size_t below = 0;
    if (skip > 0 && !f[0].r && count == 1) {
        below = std::min(coefficients[0], (64 * (skip + 1) - 1) / plan.b) / 8 * 8;
        if (below * plan.b / 64 < 128) below = 0;
    }
    skip = below * plan.b / 64;
    const Layout place = layout(plan, square, threads, count, f[0].an, bn, f[0].r ? 0 : f[0].an + bn - skip);
    Block block(place.doubles);
    mp_limb_t* r[2] = {f[0].r ? f[0].r : reinterpret_cast<mp_limb_t*>(block.data), count > 1 ? f[1].r : nullptr};
    double* residues[2][MAX_PRIMES];
    const Prime* prime_list[MAX_PRIMES];
    for (int q = 0; q < plan.np; ++q) {
        for (int j = 0; j < count; ++j) residues[j][q] = block.data + place.residues + (j * plan.np + q) * array;
        prime_list[q] = &p[q];
    }
    const int own_others = other_transforms(plan, square, threads);
    const bool whole = own_others == plan.np;  // one per prime, cut at once
    double* others = block.data + place.others;
    double* buffers = block.data + place.buffers;
    double* other_residues[MAX_PRIMES];
    for (int q = 0; q < plan.np; ++q) other_residues[q] = others + (whole ? q * array : 0);

    // Coefficients of each product in parts whose words start where their
    // first bit is, so that parts summed side by side write apart; the
    // dropped coefficients in parts of their own, in proportion, each at
    // least 128 words wide. Several parts a thread, taken by whichever
    // thread is free: a thread slowed by the machine then makes fewer. What
    // the parts leave (carries, dropped parts' bottoms) is kept in this
    // frame: small blocks from the heap, made between a product's scratch
    // blocks, can keep the heap from reusing the space those leave (at 10^7
    // digits a fifth more memory at the peak).
    const std::size_t n[2] = {f[0].an + bn, count > 1 ? f[1].an + bn : 0};
    const int parts = threads > 1 ? std::min(REMAINDERING_PARTS * threads, MAX_PARTS) : 1;
    Part tasks[2 * MAX_PARTS];
    int task_count = 0;
    const auto cut = [&](int j, std::size_t from, std::size_t to, int pieces, bool dropped_part) {
        for (int i = 0; i < pieces; ++i) {
            const std::size_t first = from + share_start(to - from, i, pieces, 8),
                              last = i + 1 == pieces ? to : from + share_start(to - from, i + 1, pieces, 8);
            tasks[task_count++] = {j, first, last, std::min(n[j], first * plan.b / 64), 0, dropped_part};
        }
    };
    if (below > 0) {
        const int low_parts = static_cast<int>(std::max<std::size_t>(
            1, std::min<std::size_t>(skip / 128, (parts * below + coefficients[0] / 2) / coefficients[0])));
        cut(0, 0, below, low_parts, true);
        cut(0, below, coefficients[0], std::max(1, parts - low_parts), false);
    } else {
        for (int j = 0; j < count; ++j) cut(j, 0, coefficients[j], parts, false);
    }
    for (int task = 0; task < task_count; ++task) {
        const bool last = task + 1 == task_count || tasks[task + 1].j != tasks[task].j;
        tasks[task].hi = last ? n[tasks[task].j] : tasks[task + 1].lo;
    }
    mp_limb_t spill[16 * 2 * MAX_PARTS];
    std::fill(spill, spill + 16 * task_count, mp_limb_t{0});
    Below dropped_parts[MAX_PARTS];
    std::atomic<int> next_part{0};
    team.run([&](int t, int size) {
        double* scratch = buffers + t * per_thread;
        double* other = others + (own_others > 1 && !whole ? t * array : 0);
        const int paired = paired_primes(plan, size);
        const auto range = [&](std::size_t total, std::size_t unit, auto pass) {
            pass(share_start(total, t, size, unit), t + 1 == size ? total : share_start(total, t + 1, size, unit));
        };
        // This thread's primes t, t + size, ... below `paired`, whole; its
        // part of the shared primes' chunks. Each a's chunks cut once for all.
        double* mine[2][MAX_PRIMES];
        double* my_others[MAX_PRIMES];
        const Prime* my_primes[MAX_PRIMES];
        int mine_count = 0;
        for (int q = t; q < paired; q += size, ++mine_count) {
            for (int j = 0; j < count; ++j) mine[j][mine_count] = residues[j][q];
            my_others[mine_count] = other_residues[q];
            my_primes[mine_count] = &p[q];
        }
        for (int j = 0; j < count; ++j) kern.load(mine[j], my_primes, mine_count, 0, L, column_bits, f[j].a, f[j].an, plan.b);
        if (whole) kern.load(my_others, my_primes, mine_count, 0, L, column_bits, b, bn, plan.b);
        if (paired < plan.np)
            range(L, 8, [&](std::size_t from, std::size_t to) {
                for (int j = 0; j < count; ++j)
                    kern.load(residues[j] + paired, prime_list + paired, plan.np - paired, from, to, column_bits,
                              f[j].a, f[j].an, plan.b);
                if (whole)
                    kern.load(other_residues + paired, prime_list + paired, plan.np - paired, from, to, column_bits,
                              b, bn, plan.b);
            });
        // Each prime: the forward column pass of every a, the other
        // operand's whole transform, then each a's row pass, pointwise
        // product and inverse row pass block by block (row_products), and
        // its inverse column pass.
        for (int q = t; q < paired; q += size) {
            const Twiddles forward = twiddles(q, plan.k, false), inverse = twiddles(q, plan.k, true);
            for (int j = 0; j < count; ++j) kern.columns(residues[j][q], forward, p[q], scratch, false, 0, C / 8);
            if (!square) {
                if (whole)
                    other = other_residues[q];
                else
                    kern.load(&other, &prime_list[q], 1, 0, L, column_bits, b, bn, plan.b);
                kern.columns(other, forward, p[q], scratch, false, 0, C / 8);
                kern.rows(other, forward, p[q], scratch, 0, R / 8);
            }
            for (int j = 0; j < count; ++j) {
                kern.row_products(residues[j][q], square ? nullptr : other, forward, p[q], scratch, 0, R / 8);
                kern.columns(residues[j][q], inverse, p[q], scratch, true, 0, C / 8);
            }
        }
        team.barrier();
        // The shared primes the same way, each pass split among the team,
        // a barrier where a pass reads what another thread wrote.
        for (int q = paired; q < plan.np; ++q) {
            const Twiddles forward = twiddles(q, plan.k, false), inverse = twiddles(q, plan.k, true);
            const auto pass = [&](std::size_t total, std::size_t unit, auto work) {
                range(total, unit, work);
                team.barrier();
            };
            const auto columns = [&](double* data, const Twiddles& tw, bool back) {
                pass(C / 8, 1, [&](std::size_t from, std::size_t to) { kern.columns(data, tw, p[q], scratch, back, from, to); });
            };
            for (int j = 0; j < count; ++j) columns(residues[j][q], forward, false);
            double* shared = other_residues[q];
            if (!square) {
                if (!whole)
                    pass(L, 8, [&](std::size_t from, std::size_t to) {
                        kern.load(&shared, &prime_list[q], 1, from, to, column_bits, b, bn, plan.b);
                    });
                columns(shared, forward, false);
                pass(R / 8, 1, [&](std::size_t from, std::size_t to) { kern.rows(shared, forward, p[q], scratch, from, to); });
            }
            for (int j = 0; j < count; ++j) {
                pass(R / 8, 1, [&](std::size_t from, std::size_t to) {
                    kern.row_products(residues[j][q], square ? nullptr : shared, forward, p[q], scratch, from, to);
                });
                columns(residues[j][q], inverse, true);
            }
        }
        // The remaindering, in parts taken in turn (on one thread in order,
        // as the kept words over the first prime's residues need).
        for (int task; (task = next_part++) < task_count;) {
            const Part& part = tasks[task];
            double* const* y = residues[part.j];
            kern.garner(y, plan.np, p, part.first, std::min((part.last + 7) / 8 * 8, L), column_bits);
            const Digits digits{y, plan.np, p, column_bits};
            if (part.dropped)
                accumulate_below(digits, plan.b, part, dropped_parts[task], &spill[16 * task]);
            else
                accumulate(r[part.j], part.j == 0 ? skip : 0, part.lo, part.hi, &spill[16 * task], digits, plan.b,
                           part.first, part.last);
        }
    });
    // The dropped parts' carry into the first word kept; each kept part's
    // carries above its words into the next part's words.
    int task = 0;
    if (below > 0) {
        while (tasks[task].dropped) ++task;
        mp_limb_t carry[BOTTOM];
        join_dropped(tasks, task, dropped_parts, spill, dropped, carry);
        if (damage_carry.exchange(false)) carry[0] ^= 1;
        mpn_add(r[0], r[0], n[0] - skip, carry, BOTTOM);
    }
    for (; task < task_count; ++task) {
        const Part& part = tasks[task];
        const mp_limb_t* above = &spill[16 * task];
        const std::size_t base = part.j == 0 ? skip : 0, at = part.hi;
        if (at < n[part.j])
            mpn_add(r[part.j] + (at - base), r[part.j] + (at - base), n[part.j] - at, above,
                    std::min<std::size_t>(16, n[part.j] - at));
    }
    return block;
}

// The product by GMP, checked too; a failure here means the machine itself
// did not multiply correctly.
void gmp_product(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn) {
    if (b == nullptr)
        mpn_sqr(r, a, static_cast<mp_size_t>(an));
    else if (an >= bn)
        mpn_mul(r, a, static_cast<mp_size_t>(an), b, static_cast<mp_size_t>(bn));
    else
        mpn_mul(r, b, static_cast<mp_size_t>(bn), a, static_cast<mp_size_t>(an));
}

// A transform's product {r, an + bn} that failed its check, made again by
// GMP and checked once more.
void remake(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn, int team) {
    ++failures;
    gmp_product(r, a, an, b, bn);
    if (!product_holds(a, an, b ? b : a, b ? bn : an, r, an + (b ? bn : an), team)) ++refailures;
}

// The transform's product, checked: into r; or, where r is null, kept in
// the block returned, the product's words from `low` up from the block's
// word *from on. Where at least 64 words stay above low, most words below
// low are not kept (the check covers them as they are dropped).
Block checked_product(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                      int threads, std::size_t low = 0, std::size_t* from = nullptr) {
    const std::size_t n = an + (b ? bn : an);
    const int team = useful_threads(threads, choose_plan(an, b ? bn : an, b == nullptr));
    std::size_t skip = !r && low + 64 <= n ? low : 0;
    Dropped dropped;
    const Factor factor{r, a, an};
    Block block = transform_products(&factor, 1, b, bn, threads, skip, &dropped);
    if (!r) {
        r = reinterpret_cast<mp_limb_t*>(block.data);
        *from = low - skip;
    }
    const std::size_t held = n - skip;
    if (damage.exchange(false)) r[held / 2] ^= 1;
    const Dropped* below = skip > 0 ? &dropped : nullptr;
    if (product_holds(a, an, b ? b : a, b ? bn : an, r, held, team, below)) return block;
    if (skip == 0) {
        remake(r, a, an, b, bn, team);
        return block;
    }
    // GMP's product whole, its top words kept.
    ++failures;
    mp_limb_t* whole = static_cast<mp_limb_t*>(allocate_block(n * sizeof(mp_limb_t)));
    gmp_product(whole, a, an, b, bn);
    if (!product_holds(a, an, b ? b : a, b ? bn : an, whole, n, team)) ++refailures;
    std::memcpy(r, whole + skip, held * sizeof(mp_limb_t));
    release_block(whole, n * sizeof(mp_limb_t));
    return block;
}

}  // namespace

bool uses_transform(std::size_t an, std::size_t bn) {
    const Kernels& k = kernels();
    Threshold t = threshold(k);
    if (test_total > 0) t = {test_total, test_shorter};
    if (&k == &portable_kernels() && !chosen) return false;
    return an + bn >= t.total && std::min(an, bn) >= t.shorter && choose_plan(an, bn, false).np != 0;
}

void mul(mp_limb_t* rp, const mp_limb_t* ap, std::size_t an, const mp_limb_t* bp, std::size_t bn, int threads) {
    if (!uses_transform(an, bn))
        mpn_mul(rp, ap, static_cast<mp_size_t>(an), bp, static_cast<mp_size_t>(bn));
    else
        checked_product(rp, ap, an, bp, bn, threads);
}

bool pairs(std::size_t a1n, std::size_t a2n, std::size_t bn) {
    if (!uses_transform(std::max(a1n, bn), std::min(a1n, bn)) || !uses_transform(std::max(a2n, bn), std::min(a2n, bn)))
        return false;
    // One plan for both, where it costs less than each its own (b's
    // transform is shared, but the shorter product takes the longer's
    // plan), and the two products' residues are not many.
    const Plan both = choose_plan(std::max(a1n, a2n), bn, false);
    return both.k <= PAIR_MAX_K && plan_cost(both, 5, 2) < plan_cost(choose_plan(a1n, bn, false), 3, 1) +
                                                                   plan_cost(choose_plan(a2n, bn, false), 3, 1);
}

void mul_pair(mp_limb_t* r1, const mp_limb_t* a1, std::size_t a1n, mp_limb_t* r2, const mp_limb_t* a2,
              std::size_t a2n, const mp_limb_t* b, std::size_t bn, int threads) {
    const Factor f[2] = {{r1, a1, a1n}, {r2, a2, a2n}};
    if (!pairs(a1n, a2n, bn)) {
        for (const Factor& x : f) {
            if (x.an >= bn)
                mul(x.r, x.a, x.an, b, bn, threads);
            else
                mul(x.r, b, bn, x.a, x.an, threads);
        }
        return;
    }
    const int team = useful_threads(threads, choose_plan(std::max(a1n, a2n), bn, false));
    std::size_t skip = 0;
    transform_products(f, 2, b, bn, threads, skip, nullptr);
    for (const Factor& x : f) {
        if (damage.exchange(false)) x.r[(x.an + bn) / 2] ^= 1;
        if (!product_holds(x.a, x.an, b, bn, x.r, x.an + bn, team)) remake(x.r, x.a, x.an, b, bn, team);
    }
}

void sqr(mp_limb_t* rp, const mp_limb_t* ap, std::size_t an, int threads) {
    if (!uses_transform(an, an))
        mpn_sqr(rp, ap, static_cast<mp_size_t>(an));
    else
        checked_product(rp, ap, an, nullptr, 0, threads);
}

Product::Product(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn, int threads,
                 std::size_t low) {
    if (b ? uses_transform(an, bn) : uses_transform(an, an)) {
        std::size_t from = 0;
        Block block = checked_product(nullptr, a, an, b, bn, threads, low, &from);
        base_ = reinterpret_cast<mp_limb_t*>(block.data);
        words_ = base_ + from;
        bytes_ = block.bytes;
        block.data = nullptr;
        in_scratch_ = true;
        return;
    }
    bytes_ = (an + (b ? bn : an)) * sizeof(mp_limb_t);
    base_ = static_cast<mp_limb_t*>(allocate_block(bytes_));
    words_ = base_ + low;
    gmp_product(base_, a, an, b, bn);
}

Product::~Product() {
    if (in_scratch_)
        keep_or_release(reinterpret_cast<double*>(base_), bytes_);
    else
        release_block(base_, bytes_);
}

Shape shape(std::size_t an, std::size_t bn) {
    if (!uses_transform(an, bn)) return {0, 0, 0};
    const Plan plan = choose_plan(an, bn, false);
    return {plan.np, plan.b, plan.k};
}

int threads_for(std::size_t an, std::size_t bn, int threads) {
    return uses_transform(an, bn) ? useful_threads(threads, choose_plan(an, bn, false)) : 1;
}

std::size_t scratch_bytes(std::size_t an, std::size_t bn, int threads) {
    if (!uses_transform(an, bn)) return 0;
    const Plan plan = choose_plan(an, bn, false);
    return sizeof(double) * scratch_doubles(plan, false, useful_threads(threads, plan));
}

std::uint64_t failed_checks() { return failures; }
std::uint64_t failed_rechecks() { return refailures; }

const char* instructions() { return kernels().name; }

bool use_instructions(const char* name) {
    kernels();
    const Kernels* wanted = nullptr;
    if (!std::strcmp(name, "portable")) wanted = &portable_kernels();
    else if (!std::strcmp(name, "avx2") && avx2_kernels() && __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("fma"))
        wanted = avx2_kernels();
    else if (!std::strcmp(name, "avx512") && avx512_kernels() && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512dq"))
        wanted = avx512_kernels();
    if (!wanted) return false;
    active = wanted;
    chosen = true;
    return true;
}

void damage_next_product() { damage = true; }
void damage_next_carry() { damage_carry = true; }

void use_transform_from(std::size_t total, std::size_t shorter) {
    test_total = total;
    test_shorter = shorter;
}

void release_kept_scratch() {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept) release_block(kept, kept_bytes);
    kept = nullptr;
    kept_bytes = 0;
}

}  // namespace mul
