#pragma once
// Products spilled to disk: where a directory and a budget are set, a
// product whose scratch and result would take more memory than the budget
// is made on disk within it (out_of_core.h) and its words read back, so
// that a run's largest products cost it the budget instead of about five
// times their size.

#include <gmp.h>

#include <cstddef>

namespace mul {

// Whether a product of these lengths (square: b = a) goes to disk.
bool spills(std::size_t an, std::size_t bn, int threads);

// The words of {a, an} {b, bn} (b null: a square, bn = an) from `low` up
// into r, made on disk. Throws StoreError.
void spilled_product(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                     int threads, std::size_t low);

}  // namespace mul
