#pragma once
// How a product is made: its plan (primes, chunk width, transform length),
// chosen once per product as the cheapest that is exact; how a team shares
// it (which primes a thread takes whole, which transforms are kept at once);
// and where everything lies in its scratch block.

#include <cstddef>

#include "primes.h"

namespace mul {

// Chunk widths up to 192 bits, four 48-bit pieces; transforms from 2^6 to
// 2^(2 TABLE_BITS), two passes of sub-transforms the roots' tables hold.
constexpr unsigned MAX_CHUNK_BITS = 192;
constexpr int MIN_K = 6, MAX_K = 2 * TABLE_BITS;

// How a product is cut: np primes, chunks of b bits, transforms of 2^k;
// np is 0 where GMP makes it.
struct Plan {
    int np;
    unsigned b;
    int k;
};

// b-bit chunks of `limbs` words.
inline std::size_t chunks(std::size_t limbs, unsigned b) { return (limbs * 64 + b - 1) / b; }

// The work of `transforms` transforms and `products` remainderings by a
// plan. Units: one butterfly per coefficient and level; the remaindering
// about np^2 / 2 products and a few words' work. A team shares every
// prime's work evenly.
double plan_cost(const Plan& plan, double transforms, int products);

// The plan of a product of these lengths (either order; square: b = a), or
// np 0 where the product is below the kernels' threshold or too long for
// any exact plan.
Plan product_plan(std::size_t an, std::size_t bn, bool square);

// A team takes the primes a thread each in turn, as many as divide evenly;
// the primes left over it shares, every pass split among the threads with
// barriers between the passes, so that every thread has equal work. From
// transforms of 2^INNER_K on every prime is shared: one operand's transform
// at a time is then kept instead of one per thread.
constexpr int INNER_K = 24;

// Below transforms of 2^WHOLE_K the other operand's residues for every
// prime are kept at once (a few MiB), so that its chunks are cut once, not
// once a prime: the cutting costs about as much as a short transform.
constexpr int WHOLE_K = 16;

// Two products with an operand in common share its transform up to
// transforms of 2^PAIR_MAX_K: both products' residues are held at once.
constexpr int PAIR_MAX_K = 18;

// Threads worth starting for a transform of 2^k: none below 2^14, where
// starting them costs more than they save.
inline int useful_threads(int threads, const Plan& plan) { return plan.k < 14 || threads < 1 ? 1 : threads; }

// Primes a team of `size` takes a thread each.
inline int paired_primes(const Plan& plan, int size) { return plan.k >= INNER_K ? 0 : plan.np - plan.np % size; }

// The other operand's transforms kept at once: one per prime (short
// products), one per thread (primes taken a thread each), or one.
int other_transforms(const Plan& plan, bool square, int threads);

// The scratch block: [residues, np arrays a product | others | buffers], an
// array R (C + ROW_PAD) doubles, the residues starting at `residues`. A
// product kept in the block has its `held` top words at its start, from
// word 0 on; on one thread they run on into the first prime's residues,
// which the remaindering reads ahead of its writes (see accumulate): the
// residues then start held - coefficients + 10 words in (b >= 64:
// coefficient i starts at word i b / 64 >= i, and its digit lies at
// padded(i) >= i). The other operand's transforms go before the residues
// where they fit (that room is free until the remaindering), else after
// them.
struct Layout {
    std::size_t residues, others, buffers, doubles;
};
Layout layout(const Plan& plan, bool square, int threads, int products, std::size_t an, std::size_t bn,
              std::size_t held);

}  // namespace mul
