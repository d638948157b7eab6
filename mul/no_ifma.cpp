// A build whose compiler cannot target AVX-512 IFMA: no such kernels.
#include "kernels.h"

const mul::CoefficientBatch* mul::ifma_batches() { return nullptr; }
