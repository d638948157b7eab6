#pragma once
// Products of long limb arrays through an exact number-theoretic transform:
// several word-size primes, residues in double precision, Chinese
// remaindering. Below a measured size GMP multiplies; every product the
// transform makes is checked modulo a prime chosen at start-up and, should
// the check fail, made again by GMP. Results are exactly mpn_mul's.

#include <gmp.h>

#include <cstddef>
#include <cstdint>

namespace mul {

// {rp, an + bn} <- {ap, an} {bp, bn}, an, bn >= 1 (either the longer), rp
// overlapping neither operand: mpn_mul's contract, but for the order.
// threads >= 1 share the transforms, the pointwise products and the
// remaindering; the result is the same for every count.
void mul(mp_limb_t* rp, const mp_limb_t* ap, std::size_t an, const mp_limb_t* bp, std::size_t bn,
         int threads);

// {r1, a1n + bn} <- {a1, a1n} {b, bn} and {r2, a2n + bn} <- {a2, a2n} {b,
// bn}, each as mul: two products with an operand in common, whose transform
// is then made once where that pays. No r overlaps an operand or the other.
void mul_pair(mp_limb_t* r1, const mp_limb_t* a1, std::size_t a1n, mp_limb_t* r2, const mp_limb_t* a2,
              std::size_t a2n, const mp_limb_t* b, std::size_t bn, int threads);

// Whether mul_pair makes products of these lengths as a pair (else one
// after the other, as mul does).
bool pairs(std::size_t a1n, std::size_t a2n, std::size_t bn);

// {rp, 2 an} <- {ap, an}^2, as mpn_sqr.
void sqr(mp_limb_t* rp, const mp_limb_t* ap, std::size_t an, int threads);

// A product kept in the engine's scratch block, for callers that only read
// it: {words(), an + bn - low} are the words from `low` up of {a, an} {b,
// bn} (an, bn >= 1, either the longer), or of {a, an}^2 where b is null.
// Most words below low are not kept (summed apart, only their carries and
// residue kept), and on one thread the words kept share memory with the
// transform's residues: it costs about one operand's transform, and the low
// words, less than a product into a buffer of one's own (the other
// operand's transform lives where the product's words go). Below the
// transform's threshold GMP makes it. The block goes back to the engine
// with it.
class Product {
public:
    Product(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn, int threads,
            std::size_t low = 0);
    ~Product();
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;
    const mp_limb_t* words() const { return words_; }

private:
    mp_limb_t* base_ = nullptr;
    mp_limb_t* words_ = nullptr;
    std::size_t bytes_ = 0;
    bool in_scratch_ = false;
};

// Whether a product of these lengths goes through the transform (else GMP).
bool uses_transform(std::size_t an, std::size_t bn);

// How the transform cuts a product of these lengths: primes, bits a chunk,
// log2 of the transform length; all 0 where GMP multiplies.
struct Shape {
    int primes;
    unsigned chunk_bits;
    int log2_length;
};
Shape shape(std::size_t an, std::size_t bn);

// Threads a product of these lengths runs on, of `threads` asked for: 1
// where GMP makes it or its transform is too short to be worth sharing.
int threads_for(std::size_t an, std::size_t bn, int threads);

// Bytes the engine takes beyond the operands and the result for a product of
// these lengths on `threads` threads: its scratch block. Where GMP makes the
// product, an allowance of twice the operands for GMP's own scratch.
std::size_t scratch_bytes(std::size_t an, std::size_t bn, int threads);

// From now on a product whose scratch and result would take more than
// `bytes` is made on disk under `dir` within `bytes` and read back (dir
// null: never). Such a product's errors (a full disk, a block read back
// damaged, a product that fails its check twice) throw mul::StoreError
// (stored.h) through the caller.
void spill_products(const char* dir, std::size_t bytes);

// Products whose check failed since start-up and that GMP made again; and
// of those, the ones whose GMP product failed the check too (the machine is
// not computing reliably).
std::uint64_t failed_checks();
std::uint64_t failed_rechecks();

// The instruction set in use: "avx512", "avx2" or "portable", the best the
// processor has. use_instructions picks another (tests, benchmarks); false
// where this processor or build lacks it. Where the best is the portable
// set, GMP makes every product unless the portable set was picked so.
const char* instructions();
bool use_instructions(const char* name);

// The transform keeps its last scratch block for the next product; this
// hands it back (before a phase that needs the memory for other things).
void release_kept_scratch();

// Tests: the transform from `total` limbs in all and `shorter` in the shorter
// operand, whatever the measured thresholds (0, 0: those again).
void use_transform_from(std::size_t total, std::size_t shorter);

// Tests: the next product the transform makes is damaged before its check;
// or, in the next product kept without its low words, the carry from those
// into the words kept.
void damage_next_product();
void damage_next_carry();

}  // namespace mul
