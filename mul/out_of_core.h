#pragma once
// Products of numbers kept on disk, within a memory budget. A product that
// fits the budget is read in, made by the engine (and checked there) and
// written out. One whose transform fits it with one prime's residues in
// memory at a time is made so (prime_by_prime.h). One that does not is cut
// by Karatsuba's identity,
//   (A1 x + A0)(B1 x + B0) = A1 B1 x^2 + (A1 B1 + A0 B0 + (A0 - A1)(B1 - B0)) x + A0 B0,
// into three products of half the length, or, where one operand is at most
// half the other's length, into products of operand-long pieces, each part
// on disk and the parts joined in one pass with the data streamed through
// memory. Each halving costs half as much time again as one product, and
// no more than the operands and the result are read and written per level.
// The whole product is then checked modulo the engine's check prime, the
// operands and the result read once more, and made again should that fail.

#include <cstddef>

#include "stored.h"

namespace mul {

struct Budget {
    std::size_t bytes;                    // memory the product may take at once
    int threads;                          // for the products made in memory
    std::size_t block = STORED_BLOCK;     // the parts' blocks, in limbs
};

// Whether a product of these lengths is made in memory in one piece.
bool fits_in_memory(std::size_t an, std::size_t bn, const Budget& budget);

// r <- a b, r a new stored number (all zero) of a.size + b.size limbs, whose
// directory takes the parts. Throws StoreError where the disk fails, a part
// reads back damaged, or the product fails its check twice.
void mul_stored(Stored& r, Span a, Span b, const Budget& budget);

}  // namespace mul
