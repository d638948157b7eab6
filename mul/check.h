#pragma once
// The check of a product: residues of the operands and of the product modulo
// a prime q = 2^61 - d chosen at start-up as the first prime at or above a
// random odd d from 2^10 to 2^20: one of 24,984 primes (d from 1,153 to
// 1,049,601), none taken from more than 192 of the 2^19 starts. A wrong
// product passes only if q divides its error. An error below 2^(64 m) is a
// multiple of at most 64 m / 60 of those primes: one that does not depend
// on q passes with probability at most m / 2,500 over q's choice, a bound
// that says little for long products. What the check rests on is that a
// fault's error (a wrong word, a lost carry, a bit flipped in memory) has
// no reason to be a multiple of any of these primes: as a random number
// would, it passes about once in 2^61.

#include <gmp.h>

#include <cstddef>
#include <cstdint>

namespace mul {

// The residue modulo q of a number's words, joined lowest first as a
// product drops them (add), or of parts placed at word offsets (add_at),
// and 2^(64 words) mod q for the words it stands for (cover). A number whose
// words were found to disagree with what it claims (a carry that no word
// string gives) is marked so, and no check against it holds.
class Dropped {
public:
    void add(const mp_limb_t* x, std::size_t n);  // the next n words up
    void add_at(std::uint64_t residue, std::size_t at);  // residue times 2^(64 at)
    void cover(std::size_t words);
    void mark_inconsistent() { consistent_ = false; }
    bool consistent() const { return consistent_; }
    std::uint64_t residue() const { return residue_; }
    std::uint64_t weight() const { return weight_; }  // 2^(64 words) mod q

private:
    std::uint64_t residue_ = 0, weight_ = 1;
    bool consistent_ = true;
};

// Arithmetic modulo q for the parts of a dropped number: {x, n} mod q;
// 2^(64 n) mod q; a + b and a b mod q of residues.
std::uint64_t check_residue(const mp_limb_t* x, std::size_t n);
std::uint64_t check_word_power(std::size_t n);
std::uint64_t check_add(std::uint64_t a, std::uint64_t b);
std::uint64_t check_mul(std::uint64_t a, std::uint64_t b);

// Whether {a, an} {b, bn} = {r, n} holds modulo q, on up to `threads`
// threads (b = a, bn = an: a square); where `dropped` is given, {r, n} are
// the product's words above those it holds, and the product is
// dropped + 2^(64 words dropped) {r, n}.
bool product_holds(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                   const mp_limb_t* r, std::size_t n, int threads, const Dropped* dropped = nullptr);

}  // namespace mul
