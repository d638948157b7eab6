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
    // Lane l: bits [o, o + 48) of {a, ...} masked, o = offset + l stride,
    // words o / 64 and o / 64 + 1 inside the operand.
    static V bits(const mp_limb_t* a, std::uint64_t offset, std::uint64_t stride, std::uint64_t mask) {
        const long long o = static_cast<long long>(offset), d = static_cast<long long>(stride);
        const __m512i at = _mm512_set_epi64(o + 7 * d, o + 6 * d, o + 5 * d, o + 4 * d, o + 3 * d, o + 2 * d, o + d, o);
        // The masked forms: the plain ones start from an undefined register,
        // which the compiler warns of.
        const __m512i zero = _mm512_setzero_si512();
        const __m512i word = _mm512_maskz_srli_epi64(0xFF, at, 6), shift = _mm512_and_si512(at, _mm512_set1_epi64(63));
        const __m512i low = _mm512_mask_i64gather_epi64(zero, 0xFF, word, a, 8),
                      high = _mm512_mask_i64gather_epi64(zero, 0xFF, word, a + 1, 8);
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
