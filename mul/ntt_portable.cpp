// The kernels in plain C++, for every machine: one lane, std::fma.

#include <cmath>
#include <cstdint>

#include "kernels.h"

namespace mul {
namespace {

struct V {
    static constexpr int lanes = 1;
    double x;
    static V load(const double* p) { return {*p}; }
    static void store(double* p, V a) { *p = a.x; }
    static V set1(double a) { return {a}; }
    static V add(V a, V b) { return {a.x + b.x}; }
    static V sub(V a, V b) { return {a.x - b.x}; }
    static V mul(V a, V b) { return {a.x * b.x}; }
    static V fms(V a, V b, V c) { return {std::fma(a.x, b.x, -c.x)}; }   // a b - c
    static V fnma(V a, V b, V c) { return {std::fma(-a.x, b.x, c.x)}; }  // c - a b
    static V fma(V a, V b, V c) { return {std::fma(a.x, b.x, c.x)}; }    // a b + c
    static V add_if_negative(V a, V b) { return {a.x < 0 ? a.x + b.x : a.x}; }
    // Bits [offset, offset + 48) of {a, ...} masked, words offset / 64 and
    // offset / 64 + 1 inside the operand (stride: the next lane's, none here).
    static V bits(const mp_limb_t* a, std::uint64_t offset, std::uint64_t, std::uint64_t mask) {
        const std::size_t w = offset / 64;
        const unsigned s = offset % 64;
        const std::uint64_t x = ((a[w] >> s) | ((a[w + 1] << 1) << (63 - s))) & mask;
        return {static_cast<double>(static_cast<std::int64_t>(x))};
    }
};

}  // namespace
}  // namespace mul

#define NTT_ISA portable
#define NTT_ISA_NAME "portable"
#include "ntt_impl.h"

namespace mul {
const Kernels& portable_kernels() { return portable::kernels; }
}  // namespace mul
