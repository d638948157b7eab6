#pragma once
// The check of a product: residues of the operands and of the product modulo
// a prime q = 2^61 - d chosen at random at start-up. A wrong product passes
// only if its error is a multiple of q: for an error the engine did not
// choose q for, about once in 2^61.

#include <gmp.h>

#include <cstddef>
#include <cstdint>

namespace mul {

// The residue modulo q of words a product drops below those it keeps,
// joined as they are dropped, lowest first; or of such words summed in parts
// side by side, each part's residue joined at its place.
class Dropped {
public:
    void add(const mp_limb_t* x, std::size_t n);  // the next n words up
    // Parts summed side by side: part's value times 2^(64 at) added; {x, n}
    // times 2^(64 at) taken away (a carry that stays in the words kept);
    // the whole then stands for a product's `count` lowest words.
    void add_at(const Dropped& part, std::size_t at);
    void take_away(const mp_limb_t* x, std::size_t n, std::size_t at);
    void cover(std::size_t count);
    std::size_t count() const { return count_; }
    std::uint64_t residue() const { return residue_; }
    std::uint64_t weight() const { return weight_; }  // 2^(64 count) mod q

private:
    std::uint64_t residue_ = 0, weight_ = 1;
    std::size_t count_ = 0;
};

// Whether {a, an} {b, bn} = {r, n} holds modulo q, on up to `threads`
// threads (b = a, bn = an: a square); where `dropped` is given, {r, n} are
// the product's words above those it holds.
bool product_holds(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                   const mp_limb_t* r, std::size_t n, int threads, const Dropped* dropped = nullptr);

}  // namespace mul
