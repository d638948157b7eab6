// The digit-extraction sums' kernel for AVX2: four lanes. Compiled with
// -mavx2 and called only where the processor has it.

#include <immintrin.h>

#include <cstdint>

#include "bbp_kernels.h"

namespace verify {
namespace avx2 {
namespace {

struct V {
    static constexpr int lanes = 4;
    __m256i x;
    static V load(const std::uint64_t* p) { return {_mm256_load_si256(reinterpret_cast<const __m256i*>(p))}; }
    static void store(std::uint64_t* p, V a) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), a.x); }
    static V set1(std::uint64_t a) { return {_mm256_set1_epi64x(static_cast<long long>(a))}; }
    static V add(V a, V b) { return {_mm256_add_epi64(a.x, b.x)}; }
    static V sub(V a, V b) { return {_mm256_sub_epi64(a.x, b.x)}; }
    static V and_(V a, V b) { return {_mm256_and_si256(a.x, b.x)}; }
    static V andnot(V a, V b) { return {_mm256_andnot_si256(a.x, b.x)}; }
    static V shl32(V a) { return {_mm256_slli_epi64(a.x, 32)}; }
    static V shr32(V a) { return {_mm256_srli_epi64(a.x, 32)}; }
    static V mul32(V a, V b) { return {_mm256_mul_epu32(a.x, b.x)}; }
    static V greater(V a, V b) { return {_mm256_cmpgt_epi64(a.x, b.x)}; }
    static V negative(V a) { return {_mm256_cmpgt_epi64(_mm256_setzero_si256(), a.x)}; }
    static V has_bit(V a, V bit) { return {_mm256_cmpeq_epi64(_mm256_and_si256(a.x, bit.x), bit.x)}; }
    static V select(V mask, V if_set, V if_clear) { return {_mm256_blendv_epi8(if_clear.x, if_set.x, mask.x)}; }
    static V min_small(V a, V b) { return select(greater(a, b), b, a); }
    static V nonzero_low32(V a) {
        const __m256i zero = _mm256_cmpeq_epi64(_mm256_and_si256(a.x, _mm256_set1_epi64x(0xffffffff)),
                                                _mm256_setzero_si256());
        return {_mm256_add_epi64(_mm256_set1_epi64x(1), zero)};
    }
    static V set1_pd(double a) { return {_mm256_castpd_si256(_mm256_set1_pd(a))}; }
    static V mul_pd(V a, V b) { return {_mm256_castpd_si256(_mm256_mul_pd(_mm256_castsi256_pd(a.x), _mm256_castsi256_pd(b.x)))}; }
    static V div_pd(V a, V b) { return {_mm256_castpd_si256(_mm256_div_pd(_mm256_castsi256_pd(a.x), _mm256_castsi256_pd(b.x)))}; }
    static V to_double(V a) {
        const __m256d shift = _mm256_set1_pd(0x1p52);
        return {_mm256_castpd_si256(
            _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(a.x, _mm256_castpd_si256(shift))), shift))};
    }
    static V nearest(V a) {
        const __m256d sum = _mm256_add_pd(_mm256_castsi256_pd(a.x), _mm256_set1_pd(0x1p52));
        return {_mm256_and_si256(_mm256_castpd_si256(sum), _mm256_set1_epi64x((1ll << 52) - 1))};
    }
};

}  // namespace
}  // namespace avx2
}  // namespace verify

#define BBP_ISA avx2
#include "bbp_kernel.h"

const verify::BbpKernel* verify::avx2_bbp() {
    static const BbpKernel kernel{"avx2", avx2::LANES, avx2::add_terms};
    return &kernel;
}
