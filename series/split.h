#pragma once
// Binary splitting of the Chudnovsky series
//   1/pi = 12 / 640320^(3/2) * sum_k (-1)^k (6k)! (13591409 + 545140134 k)
//                                         / ((3k)! (k!)^3 640320^(3k)),
// exactly, in integers. Term k is term k-1 times -g_k / p_k with
//   g_k = (2k - 1)(6k - 1)(6k - 5),   p_k = k^3 * 640320^3 / 24.

#include <gmp.h>

namespace series {

// Bit 1 (value 2) prints every node's integers as the splitting finishes them.
extern int output;

// For the node (a, b], a < b:
//   p = p_{a+1} ... p_b,
//   g = g_{a+1} ... g_b (only where gflag is set; otherwise no caller reads
//       g, and above the leaves it is 0, its limbs released),
//   q = sum_{k=a+1..b} (-1)^k (13591409 + 545140134 k)
//                      (g_{a+1} ... g_k) (p_{k+1} ... p_b),
// so that q / p = sum_{k=a+1..b} (-1)^k (13591409 + 545140134 k)
//                                   (g_{a+1} / p_{a+1}) ... (g_k / p_k).
// p, q, g are created by the caller and overwritten.
void split_series(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag);

// The node (a, b] from its halves, (a, m] in p, q, g (made with gflag set) and
// (m, b] in p2, q2, g2, which it clears. Each operand is cleared as soon as
// the last product reading it is done, so that the next product's scratch
// finds its memory free: near the root, where one product's scratch is about
// four times its result, that sets the run's peak. With least_memory, the
// products by p2, the largest, are formed in two parts each, for about 10 %
// less memory at the root and about half their time again.
void combine_halves(mpz_t p, mpz_t q, mpz_t g, mpz_t p2, mpz_t q2, mpz_t g2, int gflag,
                    bool least_memory);

// combine_halves in its two steps: the right half's q2 (and with gflag g2,
// made g g2) scaled by g, which is released, and g2 cleared; then p, q
// joined with p2 and the scaled q2, which are cleared. Between the two the
// node is p, q, p2, q2: the root keeps that as a state of its own.
void scale_right_half(mpz_t q2, mpz_t g, mpz_t g2, int gflag);
void join_scaled_halves(mpz_t p, mpz_t q, mpz_t p2, mpz_t q2, bool least_memory);

// Releases g's limbs, leaving it 0: for nodes whose g no caller reads.
void release_unread_g(mpz_t g);

}  // namespace series
