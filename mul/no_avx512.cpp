// A build whose compiler cannot target AVX-512: no such kernels.
#include "kernels.h"

const mul::Kernels* mul::avx512_kernels() { return nullptr; }
