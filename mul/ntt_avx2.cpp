// The kernels for AVX2 with FMA: four lanes. Compiled with -mavx2 -mfma and
// called only where the processor has both.

#include <immintrin.h>

#include <cstdint>

#include "kernels.h"

namespace mul {
namespace {

struct V {
    static constexpr int lanes = 4;
    __m256d x;
    static V load(const double* p) { return {_mm256_loadu_pd(p)}; }
    static void store(double* p, V a) { _mm256_storeu_pd(p, a.x); }
    static V set1(double a) { return {_mm256_set1_pd(a)}; }
    static V add(V a, V b) { return {_mm256_add_pd(a.x, b.x)}; }
    static V sub(V a, V b) { return {_mm256_sub_pd(a.x, b.x)}; }
    static V mul(V a, V b) { return {_mm256_mul_pd(a.x, b.x)}; }
    static V fms(V a, V b, V c) { return {_mm256_fmsub_pd(a.x, b.x, c.x)}; }
    static V fnma(V a, V b, V c) { return {_mm256_fnmadd_pd(a.x, b.x, c.x)}; }
    static V fma(V a, V b, V c) { return {_mm256_fmadd_pd(a.x, b.x, c.x)}; }
    static V add_if_negative(V a, V b) {
        const __m256d negative = _mm256_cmp_pd(a.x, _mm256_setzero_pd(), _CMP_LT_OQ);
        return {_mm256_add_pd(a.x, _mm256_and_pd(negative, b.x))};
    }
    // Lane l: bits [o, o + 48) of {a, ...} masked, o = offset + l stride,
    // words o / 64 and o / 64 + 1 inside the operand; below 2^52, so
    // 2^52 + x is a double's bits exactly.
    static V bits(const mp_limb_t* a, std::uint64_t offset, std::uint64_t stride, std::uint64_t mask) {
        const long long o = static_cast<long long>(offset), d = static_cast<long long>(stride);
        const __m256i at = _mm256_set_epi64x(o + 3 * d, o + 2 * d, o + d, o);
        const __m256i word = _mm256_srli_epi64(at, 6), shift = _mm256_and_si256(at, _mm256_set1_epi64x(63));
        const long long* base = reinterpret_cast<const long long*>(a);
        const __m256i low = _mm256_i64gather_epi64(base, word, 8), high = _mm256_i64gather_epi64(base + 1, word, 8);
        const __m256i x = _mm256_or_si256(_mm256_srlv_epi64(low, shift),
                                          _mm256_sllv_epi64(_mm256_slli_epi64(high, 1),
                                                            _mm256_sub_epi64(_mm256_set1_epi64x(63), shift)));
        const __m256i masked = _mm256_and_si256(x, _mm256_set1_epi64x(static_cast<long long>(mask)));
        const __m256d two52 = _mm256_set1_pd(0x1p52);
        return {_mm256_sub_pd(_mm256_or_pd(_mm256_castsi256_pd(masked), two52), two52)};
    }
};

}  // namespace
}  // namespace mul

#define NTT_ISA avx2
#define NTT_ISA_NAME "avx2"
#include "ntt_impl.h"

namespace mul {
const Kernels* avx2_kernels() { return &avx2::kernels; }
}  // namespace mul
