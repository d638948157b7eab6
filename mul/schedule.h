#pragma once
// The transform's schedule: one or two products with an operand in common,
// made on a team of threads. Each prime's work is the forward column pass
// of every operand, the shared operand's whole transform, then per product
// the row pass, pointwise product and inverse row pass block by block, and
// the inverse column pass; then the remaindering in parts, taken by
// whichever thread is free.

#include <gmp.h>

#include <cstddef>

#include "check.h"
#include "plan.h"
#include "scratch.h"

namespace mul {

// One of the products a transform makes: {r, an + bn} <- {a, an} {b, bn},
// b the operand they all share.
struct Factor {
    mp_limb_t* r;
    const mp_limb_t* a;
    std::size_t an;
};

// The transform's products of f[j].a, j < count (1 or 2), by b, into f[j].r
// (or, where f[0].r is null and count is 1, into the start of the block it
// returns), by `plan` (exact for each of them); b's transform is made once
// for them all. b null: the square of f[0].a. Where f[0].r is null, the
// words below `skip` (at most an + bn - 64) may be left out: skip is set to
// those left out, the words from skip up are kept from word 0 of the block
// on, and those below go to `dropped`.
Block transform_products(const Plan& plan, const Factor* f, int count, const mp_limb_t* b, std::size_t bn,
                         int threads, std::size_t& skip, Dropped* dropped);

// Tests: whether the carry into a kept product's words is to be damaged
// now (once, after damage_next_carry).
bool damage_carry_now();

}  // namespace mul
