// The digit-extraction sums' kernel on any x86-64 processor: one lane.

#include <cstdint>
#include <cstring>

#include "bbp_kernels.h"

namespace verify {
namespace portable {
namespace {

struct V {
    static constexpr int lanes = 1;
    std::uint64_t x;
    double d() const {
        double r;
        std::memcpy(&r, &x, sizeof r);
        return r;
    }
    static V of(double d) {
        V r;
        std::memcpy(&r.x, &d, sizeof d);
        return r;
    }
    static V load(const std::uint64_t* p) { return {*p}; }
    static void store(std::uint64_t* p, V a) { *p = a.x; }
    static V set1(std::uint64_t a) { return {a}; }
    static V add(V a, V b) { return {a.x + b.x}; }
    static V sub(V a, V b) { return {a.x - b.x}; }
    static V and_(V a, V b) { return {a.x & b.x}; }
    static V andnot(V a, V b) { return {~a.x & b.x}; }
    static V shl32(V a) { return {a.x << 32}; }
    static V shr32(V a) { return {a.x >> 32}; }
    static V mul32(V a, V b) { return {(a.x & 0xffffffffu) * (b.x & 0xffffffffu)}; }
    // All ones where the condition holds.
    static V greater(V a, V b) { return {static_cast<std::int64_t>(a.x) > static_cast<std::int64_t>(b.x) ? ~0ull : 0}; }
    static V negative(V a) { return {static_cast<std::int64_t>(a.x) < 0 ? ~0ull : 0}; }
    static V has_bit(V a, V bit) { return {(a.x & bit.x) ? ~0ull : 0}; }
    static V select(V mask, V if_set, V if_clear) { return {mask.x ? if_set.x : if_clear.x}; }
    static V min_small(V a, V b) { return a.x < b.x ? a : b; }
    static V nonzero_low32(V a) { return {(a.x & 0xffffffffu) != 0}; }
    // Doubles in the lanes; x < 2^52 to a double exactly, and back to the
    // integer nearest d, 0 <= d < 2^51.
    static V set1_pd(double a) { return of(a); }
    static V mul_pd(V a, V b) { return of(a.d() * b.d()); }
    static V div_pd(V a, V b) { return of(a.d() / b.d()); }
    static V to_double(V a) { return of(V{of(0x1p52).x | a.x}.d() - 0x1p52); }
    static V nearest(V a) { return {of(a.d() + 0x1p52).x & ((std::uint64_t{1} << 52) - 1)}; }
};

}  // namespace
}  // namespace portable
}  // namespace verify

#define BBP_ISA portable
#include "bbp_kernel.h"

const verify::BbpKernel& verify::portable_bbp() {
    static const BbpKernel kernel{"portable", portable::LANES, portable::add_terms};
    return kernel;
}
