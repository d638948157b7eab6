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
//   g = g_{a+1} ... g_b (only where gflag is set; otherwise g is whatever the
//       left half left in it, for no caller reads it),
//   q = sum_{k=a+1..b} (-1)^k (13591409 + 545140134 k)
//                      (g_{a+1} ... g_k) (p_{k+1} ... p_b),
// so that q / p = sum_{k=a+1..b} (-1)^k (13591409 + 545140134 k)
//                                   (g_{a+1} / p_{a+1}) ... (g_k / p_k).
// p, q, g are created by the caller and overwritten.
void split_series(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag);

}  // namespace series
