// A build whose compiler cannot target AVX-512: no such kernel.
#include "bbp_kernels.h"

const verify::BbpKernel* verify::avx512_bbp() { return nullptr; }
