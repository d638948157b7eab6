#pragma once
// Residues modulo a prime q = 2^61 - c chosen at random at start-up (its own,
// not the engine's check's), for checks that share nothing with the
// arithmetic they check: an integer and a text that claims it agree modulo
// q, or differ by a multiple of q, which a fault does about once in 2^61.

#include <gmp.h>

#include <cstddef>
#include <cstdint>

namespace verify {

std::uint64_t modulus();

// {x, n} mod q.
std::uint64_t words_residue(const mp_limb_t* x, std::size_t n);

// The integer the digits text[0, n) write in base 10 or 16 ("0"-"9",
// "a"-"f"), mod q; false where a character is not such a digit.
bool digits_residue(const char* text, std::size_t n, int base, std::uint64_t* residue);

// Arithmetic mod q on residues.
std::uint64_t add_mod(std::uint64_t a, std::uint64_t b);
std::uint64_t sub_mod(std::uint64_t a, std::uint64_t b);
std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b);
std::uint64_t pow_mod(std::uint64_t a, std::uint64_t e);

}  // namespace verify
