// The digit-extraction sums' kernel for AVX-512 (F and DQ): eight lanes.
// Compiled for those and called only where the processor has them.

// GCC 12 warns, wrongly, that the pass-through operand its AVX-512 headers
// hand the masked builtins (an undefined vector) may be used uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include <cstdint>

#include "bbp_kernels.h"

namespace verify {
namespace avx512 {
namespace {

struct V {
    static constexpr int lanes = 8;
    __m512i x;
    static V load(const std::uint64_t* p) { return {_mm512_load_si512(p)}; }
    static void store(std::uint64_t* p, V a) { _mm512_store_si512(p, a.x); }
    static V set1(std::uint64_t a) { return {_mm512_set1_epi64(static_cast<long long>(a))}; }
    static V add(V a, V b) { return {_mm512_add_epi64(a.x, b.x)}; }
    static V sub(V a, V b) { return {_mm512_sub_epi64(a.x, b.x)}; }
    static V and_(V a, V b) { return {_mm512_and_si512(a.x, b.x)}; }
    static V andnot(V a, V b) { return {_mm512_andnot_si512(a.x, b.x)}; }
    static V shl32(V a) { return {_mm512_slli_epi64(a.x, 32)}; }
    static V shr32(V a) { return {_mm512_srli_epi64(a.x, 32)}; }
    static V mul32(V a, V b) { return {_mm512_mul_epu32(a.x, b.x)}; }
    static V mask(__mmask8 k) { return {_mm512_maskz_mov_epi64(k, _mm512_set1_epi64(-1))}; }
    static V greater(V a, V b) { return mask(_mm512_cmpgt_epi64_mask(a.x, b.x)); }
    static V negative(V a) { return mask(_mm512_cmplt_epi64_mask(a.x, _mm512_setzero_si512())); }
    static V has_bit(V a, V bit) { return mask(_mm512_test_epi64_mask(a.x, bit.x)); }
    static V select(V m, V if_set, V if_clear) {
        return {_mm512_mask_blend_epi64(_mm512_test_epi64_mask(m.x, m.x), if_clear.x, if_set.x)};
    }
    static V min_small(V a, V b) { return {_mm512_min_epu64(a.x, b.x)}; }
    static V nonzero_low32(V a) {
        return {_mm512_maskz_mov_epi64(_mm512_test_epi64_mask(a.x, _mm512_set1_epi64(0xffffffff)),
                                       _mm512_set1_epi64(1))};
    }
    static V set1_pd(double a) { return {_mm512_castpd_si512(_mm512_set1_pd(a))}; }
    static V mul_pd(V a, V b) { return {_mm512_castpd_si512(_mm512_mul_pd(_mm512_castsi512_pd(a.x), _mm512_castsi512_pd(b.x)))}; }
    static V div_pd(V a, V b) { return {_mm512_castpd_si512(_mm512_div_pd(_mm512_castsi512_pd(a.x), _mm512_castsi512_pd(b.x)))}; }
    static V to_double(V a) {
        const __m512d shift = _mm512_set1_pd(0x1p52);
        return {_mm512_castpd_si512(
            _mm512_sub_pd(_mm512_castsi512_pd(_mm512_or_si512(a.x, _mm512_castpd_si512(shift))), shift))};
    }
    static V nearest(V a) {
        const __m512d sum = _mm512_add_pd(_mm512_castsi512_pd(a.x), _mm512_set1_pd(0x1p52));
        return {_mm512_and_si512(_mm512_castpd_si512(sum), _mm512_set1_epi64((1ll << 52) - 1))};
    }
};

}  // namespace
}  // namespace avx512
}  // namespace verify

#define BBP_ISA avx512
#include "bbp_kernel.h"

const verify::BbpKernel* verify::avx512_bbp() {
    static const BbpKernel kernel{"avx512", avx512::LANES, avx512::add_terms};
    return &kernel;
}
