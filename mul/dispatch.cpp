#include "dispatch.h"

#include <atomic>
#include <cstring>

#include "mul.h"

namespace mul {

namespace {

// Where the transform takes over from GMP, by processor and instruction
// set: products of at least `total` limbs whose shorter operand has at least
// `shorter`. Engine time over GMP's, medians of nine (single runs vary by
// 10 %):
// - Intel Xeon (Rocket Lake), AVX-512: balanced 0.95 at 1,600 x 1,600 and
//   1.2 at 2,500; squares 0.87 at 1,600^2, 0.99 at 2,000^2, 1.10 at
//   2,500^2; 4n x n 0.89 at n = 500, 1.11 at 700. AVX2: balanced 0.91 at
//   2,000 and 1.10 at 2,500; squares 1.00 at 2,500^2; 4n x n 0.96 at n =
//   700, 1.10 at 1,000. Its 512-bit fused multiply-adds run at only 1.4
//   times the 256-bit ones' rate.
// - AMD EPYC (Zen 5), AVX-512: balanced 1.00 at 600 x 600, 0.85 at 700, 0.69
//   at 1,000; squares 1.00 at 600^2, 0.94 at 700^2, 0.90 at 1,000^2; 1,000 x
//   250 0.92, 4,000 x 200 0.87. AVX2: balanced 0.94 at 1,000, 0.84 at 1,500;
//   squares 1.17 at 1,000^2, 0.88 at 1,500^2; 2,000 x 300 0.91, 4,000 x 400
//   0.78.
// Other processors take Intel's, the cautious ones. The portable kernels,
// one lane with library calls for the fused products, are 5 to 14 times
// slower than GMP at every size: they multiply only where chosen on purpose
// (tests, benchmarks).
struct Threshold {
    std::size_t total, shorter;
};
constexpr Threshold INTEL_AVX512{4000, 600}, INTEL_AVX2{5000, 800}, AMD_AVX512{1400, 250}, AMD_AVX2{2600, 400};

Threshold threshold(const Kernels& k) {
    static const bool amd = (__builtin_cpu_init(), __builtin_cpu_is("amd"));
    if (&k == avx512_kernels()) return amd ? AMD_AVX512 : INTEL_AVX512;
    return amd ? AMD_AVX2 : INTEL_AVX2;
}
std::atomic<bool> chosen{false};  // use_instructions was called
std::atomic<std::size_t> test_total{0}, test_shorter{0};
std::atomic<const Kernels*> active{nullptr};

bool avx512_here() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"); }
bool avx2_here() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

}  // namespace

const Kernels& kernels() {
    const Kernels* k = active.load();
    if (!k) {
        __builtin_cpu_init();
        if (avx512_kernels() && avx512_here())
            k = avx512_kernels();
        else if (avx2_kernels() && avx2_here())
            k = avx2_kernels();
        else
            k = &portable_kernels();
        active = k;
    }
    return *k;
}

bool long_enough(std::size_t an, std::size_t bn) {
    const Kernels& k = kernels();
    if (&k == &portable_kernels() && !chosen) return false;
    Threshold t = threshold(k);
    if (test_total > 0) t = {test_total, test_shorter};
    return an + bn >= t.total && (an < bn ? an : bn) >= t.shorter;
}

const char* instructions() { return kernels().name; }

bool use_instructions(const char* name) {
    kernels();
    const Kernels* wanted = nullptr;
    if (!std::strcmp(name, "portable"))
        wanted = &portable_kernels();
    else if (!std::strcmp(name, "avx2") && avx2_kernels() && avx2_here())
        wanted = avx2_kernels();
    else if (!std::strcmp(name, "avx512") && avx512_kernels() && avx512_here())
        wanted = avx512_kernels();
    if (!wanted) return false;
    active = wanted;
    chosen = true;
    return true;
}

void use_transform_from(std::size_t total, std::size_t shorter) {
    test_total = total;
    test_shorter = shorter;
}

}  // namespace mul
