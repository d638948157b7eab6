// The remaindering's coefficients eight at a time with AVX-512 IFMA (52-bit
// multiply-adds). Compiled with -mavx512f -mavx512dq -mavx512ifma and called
// only where the processor has them.

#include <immintrin.h>

#include <cstdint>

#include "kernels.h"

namespace mul {
namespace {

constexpr int limbs52(int bits) { return (bits + 51) / 52; }

// c = y_0 + y_1 P_1 + ... + y_{NP-1} P_{NP-1} lane by lane, as 52-bit limbs:
// each y_q P_q[j] adds its low 52 bits to limb j and its high ones to limb
// j + 1. A limb takes at most two terms per digit, each below 2^52, so it
// stays below 2^56 until the carries are passed up; then the limbs are cut
// into 64-bit words.
template <int NP>
void batch(const double* const* y, const std::uint64_t (*weights)[8], std::size_t at, std::uint64_t* out) {
    constexpr int WORDS = (50 * NP + 63) / 64;
    constexpr int LIMBS = limbs52(64 * WORDS) + 2;  // every limb a word reads, zero above c's
    __m512i limb[LIMBS];
#pragma GCC unroll 16
    for (int j = 0; j < LIMBS; ++j) limb[j] = _mm512_setzero_si512();
    // Digits lie in [0, p) below 2^50: their doubles convert exactly. (The
    // masked forms throughout: the plain ones start from an undefined
    // register, which the compiler warns of.)
    limb[0] = _mm512_maskz_cvttpd_epi64(0xFF, _mm512_loadu_pd(y[0] + at));
#pragma GCC unroll 8
    for (int q = 1; q < NP; ++q) {
        const __m512i digit = _mm512_maskz_cvttpd_epi64(0xFF, _mm512_loadu_pd(y[q] + at));
        for (int j = 0; j < limbs52(50 * q); ++j) {
            const __m512i w = _mm512_set1_epi64(static_cast<long long>(weights[q][j]));
            limb[j] = _mm512_madd52lo_epu64(limb[j], digit, w);
            limb[j + 1] = _mm512_madd52hi_epu64(limb[j + 1], digit, w);
        }
    }
    const __m512i mask = _mm512_set1_epi64((1LL << 52) - 1);
#pragma GCC unroll 16
    for (int j = 0; j + 1 < LIMBS; ++j) {
        limb[j + 1] = _mm512_add_epi64(limb[j + 1], _mm512_maskz_srli_epi64(0xFF, limb[j], 52));
        limb[j] = _mm512_and_si512(limb[j], mask);
    }
    // Word k: bits [64 k, 64 k + 64), from limb j = 64 k / 52 on, bit s of it.
#pragma GCC unroll 8
    for (int k = 0; k < WORDS; ++k) {
        const int j = 64 * k / 52;
        const unsigned s = 64 * k % 52;
        __m512i word = _mm512_or_si512(_mm512_maskz_srli_epi64(0xFF, limb[j], s), _mm512_maskz_slli_epi64(0xFF, limb[j + 1], 52 - s));
        if (104 - s < 64) word = _mm512_or_si512(word, _mm512_maskz_slli_epi64(0xFF, limb[j + 2], 104 - s));
        _mm512_storeu_si512(out + 8 * k, word);
    }
}

constexpr CoefficientBatch batches[MAX_PRIMES + 1] = {nullptr,  nullptr,  batch<2>, batch<3>, batch<4>,
                                                      batch<5>, batch<6>, batch<7>, batch<8>};

}  // namespace

const CoefficientBatch* ifma_batches() { return batches; }

}  // namespace mul
