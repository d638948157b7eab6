#pragma once
// The check of a product: residues of the operands and of the product modulo
// a prime q = 2^61 - d chosen at random at start-up. A wrong product passes
// only if its error is a multiple of q: for an error the engine did not
// choose q for, about once in 2^61.

#include <gmp.h>

#include <cstddef>

namespace mul {

// Whether {a, an} {b, bn} = {r, n} holds modulo q, on up to `threads`
// threads (b = a, bn = an: a square).
bool product_holds(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                   const mp_limb_t* r, std::size_t n, int threads);

}  // namespace mul
