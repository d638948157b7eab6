#pragma once
// The long sums' kernel, one per instruction set (see bbp_kernel.h).

#include <cstdint>

#include "bbp.h"

namespace verify {

struct BbpKernel {
    const char* name;
    int lanes;
    // Adds the terms n in [n0, n0 + batches lanes) of s (n0 even, every
    // denominator below 2^32, every power non-negative) to sum.
    void (*add_terms)(const Series& s, std::uint64_t n0, std::uint64_t batches, Sum128& sum);
};

const BbpKernel& portable_bbp();
const BbpKernel* avx2_bbp();    // nullptr where the build has none
const BbpKernel* avx512_bbp();

}  // namespace verify
