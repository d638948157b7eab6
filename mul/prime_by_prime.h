#pragma once
// A product of numbers on disk made by the transform one prime at a time:
// each prime's residues of the product, once its transforms are done, go
// to a file of their own, and the remaindering then streams all the primes'
// files through memory a window of rows at a time, writing the product's
// words to disk in order. The operands are read from disk once a prime.
// Memory: the two operands' transforms for one prime (or one, the other
// read back from disk) and the windows, against every prime's residues,
// both operands and the result at once in memory.

#include <cstddef>

#include "stored.h"

namespace mul {

// Whether the transform makes a product of these lengths (else GMP does,
// and prime_by_prime must not be asked to).
bool prime_by_prime_applies(std::size_t an, std::size_t bn);

// What such a product holds in memory besides one transform: the operands
// (else they are read from disk once a prime), and the second operand's
// transform (else it is written to disk and read back a block of rows at
// a time for the pointwise product, which halves the memory for a
// prime's written and read transform more).
struct Holding {
    bool operands;
    bool second_transform;
};

// Bytes prime_by_prime takes in memory for a product of these lengths.
std::size_t prime_by_prime_bytes(std::size_t an, std::size_t bn, int threads, Holding holding);

// r <- a b (r new, all zero, a.size + b.size limbs), the scratch files in
// r's directory, in blocks of `block` limbs. Unchecked: the caller checks
// the whole product. Throws StoreError.
void prime_by_prime(Stored& r, const Span& a, const Span& b, int threads, std::size_t block, Holding holding);

}  // namespace mul
