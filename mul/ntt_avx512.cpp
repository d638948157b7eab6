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
};

}  // namespace
}  // namespace mul

#define NTT_ISA avx512
#define NTT_ISA_NAME "avx512"
#include "ntt_impl.h"

namespace mul {
const Kernels* avx512_kernels() { return &avx512::kernels; }
}  // namespace mul
