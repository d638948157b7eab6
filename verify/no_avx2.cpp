// A build whose compiler cannot target AVX2: no such kernel.
#include "bbp_kernels.h"

const verify::BbpKernel* verify::avx2_bbp() { return nullptr; }
