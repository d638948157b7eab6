#pragma once
// The precision ladder: the schedule of precisions at which a Newton iteration
// refines a reciprocal (1/b or 1/sqrt(x)) on its way to a target precision.
//
// Descent halves the target, rounding up, until it is at most a start
// precision the seed holds, and records which halvings rounded up. The climb
// doubles back: each doubled value below the target is one Newton step, after
// which the recorded round-up bit is subtracted, so the climb retraces the
// descent and reaches the target exactly. Once the doubled value reaches the
// target, the caller runs its final correction step instead of a last, full
// precision Newton step.

#include <gmp.h>

#include <algorithm>
#include <cassert>

// Start of the climb, bits. The seed is a double computed from a number that
// was itself rounded to a double: it holds about 51 correct bits, not 53. A
// Newton step squares the seed's relative error, so starting the climb at a
// precision the seed truly holds keeps that error below one unit of the start.
constexpr long LADDER_START_BITS = 48;

// Extra bits of every Newton step and of the final step. Each step squares the
// relative error it inherits: an error of c units at s bits becomes c^2 units
// at 2s bits, plus a few units of its own rounding. Carried at s + 8 bits, an
// inherited c^2 * 2^-8 units stays below c for every c < 256, so the error
// stays a few units at the step precision instead of doubling in bits at every
// step; the final step inherits the same few units.
constexpr long NEWTON_GUARD_BITS = 8;

// Where the climb stands: the precision reached so far, and the round-up bits
// still to replay, the next one in the lowest bit.
struct Ladder {
    long prec;
    unsigned long roundups;
};

// Descends from target until the precision is at most start_max. The result's
// prec is the start precision, between start_max / 2 and start_max for any
// target above start_max, and the target itself otherwise.
inline Ladder ladder_descent(long target, long start_max = LADDER_START_BITS) {
    Ladder ladder{target, 0};
    while (ladder.prec > start_max) {
        const long roundup = ladder.prec % 2;
        ladder.roundups = 2 * ladder.roundups + static_cast<unsigned long>(roundup);
        ladder.prec = (ladder.prec + roundup) / 2;
    }
    return ladder;
}

// The next Newton step's precision (before guard bits), or 0 when the doubled
// precision reaches the target and the final step is due. A step runs at the
// doubled value; the round-up bit only lowers the next doubling.
inline long ladder_next_step(Ladder& ladder, long target) {
    const long step = 2 * ladder.prec;
    if (step >= target) return 0;
    ladder.prec = step - static_cast<long>(ladder.roundups % 2);
    ladder.roundups /= 2;
    return step;
}

// Bits the reciprocal r and the correction t must be created with for a climb
// to target. The last Newton step runs at most at (target + 1) / 2 + 1 bits,
// the final step's half precision is target / 2, both plus guard bits; r also
// holds the 53-bit double seed.
inline long ladder_scratch_bits(long target) {
    return std::max(53L, (target + 1) / 2 + 1 + NEWTON_GUARD_BITS);
}

// Sets the precision x computes at to bits, without reallocating. x has room
// for `room` bits, what it was created with: the library writes as many limbs
// as the precision asks for, so beyond that it would write past x's limbs.
// Debug builds stop there.
inline void set_prec_within(mpf_t x, long bits, [[maybe_unused]] long room) {
    assert(bits <= room && "precision above what the number was created with");
    mpf_set_prec_raw(x, static_cast<mp_bitcnt_t>(bits));
}
