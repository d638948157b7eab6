#pragma once
// The transform's kernels, one table per instruction set. Every kernel works
// on residues mod one prime held as doubles (see ntt_impl.h for the bounds);
// all sets compute the same residues.

#include <gmp.h>

#include <cstddef>

#include "primes.h"

namespace mul {

// Twiddle factors of one transform length L = R C for one prime and one
// direction (see ntt_impl.h): start[j * 8 + i] = f w_L^(rev(j) i) and
// step[j] = w_L^(8 rev(j)), j < R, i < 8, rev reversing log2 R bits;
// f is 1 forward and 1/L inverse. Signed residues.
struct Twiddles {
    int k;  // L = 2^k
    int row_bits;  // R = 2^row_bits
    const double* start;
    const double* step;
};

// The R x C array of a transform lies in rows C + ROW_PAD doubles apart:
// rows a power of two apart would fall in the same few cache sets, and the
// column pass reads a line from every row. Index i of the sequence (row
// i / C, column i % C) is at padded(i); the pads hold zeros or residues.
constexpr std::size_t ROW_PAD = 8;
inline std::size_t padded(std::size_t i, int column_bits) { return i + (i >> column_bits) * ROW_PAD; }

struct Kernels {
    const char* name;
    // Residues of the b-bit chunks of {a, an}, chunk i = bits [i b, i b + b),
    // mod primes[q] into out[q][padded(i)], q < count, for i in [from, to)
    // (multiples of 8), rows of 2^column_bits; chunks past the operand are
    // 0, and so are the pads of the rows it ends. b <= 192.
    void (*load)(double* const* out, const Prime* const* primes, int count, std::size_t from,
                 std::size_t to, int column_bits, const mp_limb_t* a, std::size_t an, unsigned b);
    // The transform of length L = 2^k >= 64 in place, in two passes over
    // the R x C array, each made of independent parts: forward, columns
    // (groups of 8, C / 8 of them) then rows (blocks of 8, R / 8); a
    // product's inverse, rows then columns. The order the forward transform
    // leaves is scrambled and the inverse undoes it. scratch holds
    // kernel_scratch_doubles(R, C) for each caller running parts at once.
    // The twiddles are the direction's (the row passes need only the
    // prime's roots and take the forward ones).
    void (*columns)(double* data, const Twiddles& twiddles, const Prime& prime, double* scratch,
                    bool inverse, std::size_t from_group, std::size_t to_group);
    // The forward row pass: the transform finished.
    void (*rows)(double* data, const Twiddles& twiddles, const Prime& prime, double* scratch,
                 std::size_t from_block, std::size_t to_block);
    // On an array whose forward column pass is done: the forward row pass,
    // the product by other's finished transform (null: by itself, a
    // square) residue by residue, and the inverse row pass, the block read
    // and written once. Every double other holds there is a residue.
    void (*row_products)(double* data, const double* other, const Twiddles& twiddles, const Prime& prime,
                         double* scratch, std::size_t from_block, std::size_t to_block);
    // Mixed-radix digits of the residues r[q][padded(i)], q < np, i in
    // [from, to) (multiples of 8): each becomes y_q in [0, p_q) with the
    // value y_0 + p_0 (y_1 + p_1 (y_2 + ...)).
    void (*garner)(double* const* r, int np, const Prime* primes, std::size_t from, std::size_t to,
                   int column_bits);
};

// Coefficients i to i + 7 of a product (i a multiple of 8, at = padded(i)),
// from their mixed-radix digits y[q][at + lane], q < np: y_0 + y_1 P_1 + ...
// + y_{np-1} P_{np-1}, where weights[q] holds P_q = p_0 ... p_{q-1} in
// 52-bit limbs, into out[8 w + lane], w < ceil(50 np / 64), the coefficient's
// 64-bit words.
using CoefficientBatch = void (*)(const double* const* y, const std::uint64_t (*weights)[8], std::size_t at,
                                  std::uint64_t* out);

// Doubles of scratch a caller running transform parts of an R x C array
// needs: a buffer of max(2R, C) rows of 8 lanes (two column groups, or one
// row block) and R rows of running twiddles.
inline std::size_t kernel_scratch_doubles(std::size_t R, std::size_t C) { return 8 * ((2 * R > C ? 2 * R : C) + R); }

// The sets. The AVX ones are compiled for their instructions; nothing from a
// header they include may be emitted there and shared (only plain data and
// the functions of their own namespace cross over).
const Kernels& portable_kernels();
// nullptr where the build has no such set.
const Kernels* avx2_kernels();
const Kernels* avx512_kernels();
// Indexed by the number of primes (2 to MAX_PRIMES); nullptr where the build
// has no AVX-512 IFMA.
const CoefficientBatch* ifma_batches();

}  // namespace mul
