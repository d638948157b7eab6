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
};

}  // namespace
}  // namespace mul

#define NTT_ISA avx2
#define NTT_ISA_NAME "avx2"
#include "ntt_impl.h"

namespace mul {
const Kernels* avx2_kernels() { return &avx2::kernels; }
}  // namespace mul
