#include "split.h"

#include <cstdio>

#include "checkpoints.h"
#include "products.h"
#include "progress.h"

namespace series {

int output;

static void trace(const mpz_t p, const mpz_t q, const mpz_t g, unsigned long a, unsigned long b,
                  int gflag) {
    if (!(output & 2)) return;
    std::printf("p(%lu,%lu)=", a, b);
    mpz_out_str(stdout, 10, p);
    std::printf("\nq(%lu,%lu)=", a, b);
    mpz_out_str(stdout, 10, q);
    std::printf("\n");
    if (gflag) {
        std::printf("g(%lu,%lu)=", a, b);
        mpz_out_str(stdout, 10, g);
        std::printf("\n");
    }
}

// Term k alone. Every factor but g fits a machine word, so all but one
// product are single-word multiplications.
static void leaf(mpz_t p, mpz_t q, mpz_t g, unsigned long k) {
    mpz_set_ui(g, 2 * k - 1);
    mpz_mul_ui(g, g, 6 * k - 1);
    mpz_mul_ui(g, g, 6 * k - 5);

    // k^3 * 640320^3 / 24, the constant 10939058860032000 applied as two
    // word-sized factors
    mpz_set_ui(p, k);
    mpz_mul_ui(p, p, k);
    mpz_mul_ui(p, p, k);
    mpz_mul_ui(p, p, 711822400);
    mpz_mul_ui(p, p, 15367680);

    mpz_set_ui(q, k);
    mpz_mul_ui(q, q, 545140134);
    mpz_add_ui(q, q, 13591409);
    mpz_mul(q, q, g);
    if (k % 2 == 1) mpz_neg(q, q);
}

void release_unread_g(mpz_t g) { mpz_realloc2(g, 0); }

// u <- u v as (u_high v) 2^s + u_low v, with u split at half its words. The
// multiplication's scratch grows with its product, so each of the two
// products needs about three quarters of what u v at once would, for about
// half as much time again.
static void multiply_in_two(mpz_t u, const mpz_t v) {
    const mp_bitcnt_t s = mpz_size(u) / 2 * GMP_NUMB_BITS;
    mpz_t low;
    mpz_init(low);
    // Truncating division: u = high 2^s + low, both with u's sign.
    mpz_tdiv_r_2exp(low, u, s);
    mpz_tdiv_q_2exp(u, u, s);
    mpz_realloc2(u, mpz_sizeinbase(u, 2));  // hands back the low half's words
    products::mul(low, low, v);
    products::mul(u, u, v);
    mpz_mul_2exp(u, u, s);
    mpz_add(u, u, low);
    mpz_clear(low);
}

void scale_right_half(mpz_t q2, mpz_t g, mpz_t g2, int gflag) {
    // The right half's terms are scaled by the left half's g, the left half's
    // (in join_scaled_halves) by the right half's p. Products with a factor
    // in common are made as pairs, where the multiplication can share the
    // factor's work.
    if (gflag) {
        products::mul_pair(q2, q2, g, g2, g);
    } else {
        products::mul(q2, q2, g);
        release_unread_g(g);
    }
    mpz_clear(g2);
}

void join_scaled_halves(mpz_t p, mpz_t q, mpz_t p2, mpz_t q2, bool least_memory) {
    const auto add_right_half = [&] {
        mpz_add(q, q, q2);
        mpz_clear(q2);
    };
    if (least_memory) {
        multiply_in_two(q, p2);
        add_right_half();
        multiply_in_two(p, p2);
    } else {
        products::mul_pair(q, q, p, p, p2, add_right_half);
    }
    mpz_clear(p2);
}

void combine_halves(mpz_t p, mpz_t q, mpz_t g, mpz_t p2, mpz_t q2, mpz_t g2, int gflag,
                    bool least_memory) {
    scale_right_half(q2, g, g2, gflag);
    join_scaled_halves(p, q, p2, q2, least_memory);
}

void split_series(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag) {
    if (node_taken_up(p, q, g, a, b, gflag)) return;
    if (b - a == 1) {
        leaf(p, q, g, b);
    } else {
        // Halving keeps the two products of each combination of like size.
        mpz_t p2, q2, g2;
        mpz_init(p2);
        mpz_init(q2);
        mpz_init(g2);
        const unsigned long m = (a + b) / 2;
        split_series(p, q, g, a, m, 1);
        split_series(p2, q2, g2, m, b, gflag);
        combine_halves(p, q, g, p2, q2, g2, gflag, false);
        progress_combined(b - a);
    }
    trace(p, q, g, a, b, gflag);
    node_done(p, q, g, a, b, gflag);
}

}  // namespace series
