// The kernels for AVX-512 (F and DQ): eight lanes. Compiled with
// -mavx512f -mavx512dq -mfma and called only where the processor has them.

#include <immintrin.h>

#include <cstdint>

#include "kernels.h"

namespace mul {
namespace {

struct V {
    static constexpr int lanes = 8;
    __m512d x;
    static V load(const double* p) { return {_mm512_loadu_pd(p)}; }
    static void store(double* p, V a) { _mm512_storeu_pd(p, a.x); }
    static V set1(double a) { return {_mm512_set1_pd(a)}; }
    static V add(V a, V b) { return {_mm512_add_pd(a.x, b.x)}; }
    static V sub(V a, V b) { return {_mm512_sub_pd(a.x, b.x)}; }
    static V mul(V a, V b) { return {_mm512_mul_pd(a.x, b.x)}; }
    static V fms(V a, V b, V c) { return {_mm512_fmsub_pd(a.x, b.x, c.x)}; }
    static V fnma(V a, V b, V c) { return {_mm512_fnmadd_pd(a.x, b.x, c.x)}; }
    static V fma(V a, V b, V c) { return {_mm512_fmadd_pd(a.x, b.x, c.x)}; }
    static V add_if_negative(V a, V b) {
        const __mmask8 negative = _mm512_cmp_pd_mask(a.x, _mm512_setzero_pd(), _CMP_LT_OQ);
        return {_mm512_mask_add_pd(a.x, negative, a.x, b.x)};
    }
    // Lane l: bits [o, o + 48) of {a, ...} masked, o = offset + l stride;
    // the 16 words from word offset / 64 and the 16 from word (offset + 4
    // stride) / 64 inside the operand. Lanes 0-3 take their words from the
    // first 16, lanes 4-7 from the second (a half's bits lie within 63 + 3
    // 192 + 48 of its first word's start: 11 words), by permutes: gathers
    // are microcoded and slow on some processors (half of this kernel's
    // time on an AMD EPYC).
    static V bits(const mp_limb_t* a, std::uint64_t offset, std::uint64_t stride, std::uint64_t mask) {
        const long long o = static_cast<long long>(offset), d = static_cast<long long>(stride);
        const long long w0 = o / 64, w4 = (o + 4 * d) / 64;
        const __m512i at = _mm512_set_epi64(o + 7 * d, o + 6 * d, o + 5 * d, o + 4 * d, o + 3 * d, o + 2 * d, o + d, o);
        // The masked forms: the plain ones start from an undefined register,
        // which the compiler warns of.
        const __m512i base = _mm512_set_epi64(w4, w4, w4, w4, w0, w0, w0, w0);
        const __m512i word = _mm512_sub_epi64(_mm512_maskz_srli_epi64(0xFF, at, 6), base),
                      next = _mm512_add_epi64(word, _mm512_set1_epi64(1));
        const __m512i shift = _mm512_and_si512(at, _mm512_set1_epi64(63));
        const __m512i first_lo = _mm512_loadu_si512(a + w0), first_hi = _mm512_loadu_si512(a + w0 + 8),
                      second_lo = _mm512_loadu_si512(a + w4), second_hi = _mm512_loadu_si512(a + w4 + 8);
        const __m512i low = _mm512_mask_blend_epi64(0xF0, _mm512_permutex2var_epi64(first_lo, word, first_hi),
                                                    _mm512_permutex2var_epi64(second_lo, word, second_hi)),
                      high = _mm512_mask_blend_epi64(0xF0, _mm512_permutex2var_epi64(first_lo, next, first_hi),
                                                     _mm512_permutex2var_epi64(second_lo, next, second_hi));
        const __m512i up = _mm512_maskz_slli_epi64(0xFF, high, 1), back = _mm512_sub_epi64(_mm512_set1_epi64(63), shift);
        const __m512i x = _mm512_or_si512(_mm512_maskz_srlv_epi64(0xFF, low, shift), _mm512_maskz_sllv_epi64(0xFF, up, back));
        return {_mm512_cvtepi64_pd(_mm512_and_si512(x, _mm512_set1_epi64(static_cast<long long>(mask))))};
    }
};

}  // namespace
}  // namespace mul

#define NTT_ISA avx512
#define NTT_ISA_NAME "avx512"
#include "ntt_impl.h"

namespace mul {
const Kernels* avx512_kernels() { return &avx512::kernels; }
}  // namespace mul
