#pragma once
// Which kernels make the products, and from which lengths: the instruction
// set chosen once, at run time (the best the processor has, or another a
// test or benchmark picks), and the measured thresholds below which GMP
// multiplies.

#include <cstddef>

#include "kernels.h"

namespace mul {

// The kernels in use.
const Kernels& kernels();

// Whether products of these lengths (either order) are long enough for the
// transform on the kernels in use: never on the portable ones, unless they
// were picked on purpose.
bool long_enough(std::size_t an, std::size_t bn);

}  // namespace mul
