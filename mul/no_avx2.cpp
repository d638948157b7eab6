// A build whose compiler cannot target AVX2: no such kernels.
#include "kernels.h"

const mul::Kernels* mul::avx2_kernels() { return nullptr; }
