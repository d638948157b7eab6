#pragma once
// The remaindering: each coefficient of a product from its residues' mixed-
// radix digits (y_0 + p_0 (y_1 + p_1 (...)), below P = p_0 ... p_(np-1)),
// added at bit i b of the product's words. A product's coefficients are
// summed in parts side by side, each part's words apart from the others'
// and its carries above them kept apart (its spill), joined in order once
// all parts are done. A part wholly below the words a product keeps is
// summed in a window and leaves only what the carries and the check need.

#include <gmp.h>

#include <cstddef>
#include <cstdint>

#include "check.h"
#include "primes.h"

namespace mul {

// The mixed-radix digits the remaindering reads: y[q][padded(i)], q < np.
struct Digits {
    double* const* y;
    int np;
    const Prime* p;
    int column_bits;
};

// A part of the remaindering: coefficients [first, last) of product j,
// summed from word lo = first b / 64 (first a multiple of 8, so that no two
// parts share a batch), their carries above word hi (the next part's lo)
// added to the next part afterwards. A part wholly below the words kept is
// summed in a window instead and leaves only what the carries and the check
// need (Below).
struct Part {
    int j;
    std::size_t first, last, lo, hi;
    bool dropped;
};

// What a dropped part leaves: its lowest BOTTOM words, the AND and the
// residue of those above them (its middle, words [BOTTOM, hi - lo)); its
// words from hi up go to the spill. The carry that comes into it from the
// parts below (16 words and a bit) reaches its middle only where that is
// all ones, and then only as a carry into its spill.
constexpr std::size_t BOTTOM = 17;
struct Below {
    mp_limb_t bottom[BOTTOM];
    std::uint64_t ones;
    Dropped middle;
};

// The product's words [lo, hi) from the mixed-radix digits of coefficients
// [from, to), each added at bit i b; r holds word `base` on (base <= lo);
// the carries above hi (16 words at most) go to spill.
void accumulate(mp_limb_t* r, std::size_t base, std::size_t lo, std::size_t hi, mp_limb_t* spill,
                const Digits& digits, unsigned b, std::size_t from, std::size_t to);

// A dropped part's sum (hi - lo >= BOTTOM) into out, its words from hi up
// to spill.
void accumulate_below(const Digits& digits, unsigned b, const Part& part, Below& out, mp_limb_t* spill);

// The dropped parts [0, count) joined lowest first: the residue of the words
// left out into low, and the carry into the first word kept (see the
// definition for what the check then covers).
void join_dropped(const Part* parts, int count, const Below* below, const mp_limb_t* spills, Dropped* low,
                  mp_limb_t carry[BOTTOM]);

// The kept parts' carries: part t's spill (spills + 16 t) added at its hi
// to the words of its product j, held in r[j] from word base[j] on, n[j]
// words in all.
void join_kept(const Part* parts, int count, const mp_limb_t* spills, mp_limb_t* const* r,
               const std::size_t* base, const std::size_t* n);

}  // namespace mul
