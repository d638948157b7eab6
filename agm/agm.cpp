#include "agm.h"

#include <cstdio>

#include "ladder.h"
#include "products.h"
#include "run_clock.h"

namespace agm {

mpf_t A, a2, b2, c, s;
RunTicks T[4], FD;

// Clock reading at the end of the last iteration; the finish is timed from it.
static RunTicks loop_end;

void agm_create(long prec_bits) {
    P = prec_bits;
    mpf_set_default_prec(static_cast<mp_bitcnt_t>(agm_prec()));
    mpf_init(A);
    mpf_init(a2);
    mpf_init(b2);
    mpf_init(c);
    mpf_init(s);
    const auto scratch = static_cast<mp_bitcnt_t>(ladder_scratch_bits(agm_prec()));
    mpf_init2(r, scratch);
    mpf_init2(t, scratch);
}

void agm_release() {
    agm_release_all_but_pi();
    mpf_clear(a2);
}

// The kernels leave some numbers at a lowered precision (s after the
// division); the library releases a number by the size its precision tells,
// so each gets back the precision it was created with first.
void agm_release_all_but_pi() {
    const auto scratch = static_cast<mp_bitcnt_t>(ladder_scratch_bits(agm_prec()));
    for (mpf_ptr x : {A, b2, c, s}) {
        mpf_set_prec_raw(x, static_cast<mp_bitcnt_t>(agm_prec()));
        mpf_clear(x);
    }
    for (mpf_ptr x : {r, t}) {
        mpf_set_prec_raw(x, scratch);
        mpf_clear(x);
    }
}

void agm_setup() {
    mpf_set_ui(A, 1);
    mpf_set_ui(a2, 1);
    mpf_set_d(b2, 0.5);
    mpf_set_ui(s, 1);
    T[0] = T[1] = T[2] = T[3] = FD = RunTicks{};
}

// Step 0 of iteration k, common to all variants: s -= 2^k (a_k^2 - b_k^2).
static void step0(int k) {
    mpf_sub(c, a2, b2);
    mpf_mul_2exp(c, c, static_cast<mp_bitcnt_t>(k));
    mpf_sub(s, s, c);
}

// Each variant is three measured steps and an unmeasured rest; each leaves
// a2 = a_{k+1}^2 and b2 = b_{k+1}^2.
struct Variant {
    void (*step[3])();
    void (*rest)();
};

// Variant 0: one squaring, one root; a_{k+1}^2 rebuilt by an addition.
static const Variant VARIANT0 = {
    // b_k into c, which step 0 is done with and which the root uses as its
    // scratch too; step 2 turns it into a_{k+1} - b_k in place: b_k needs no
    // number of its own, one fewer at the peak.
    {[] { newton_sqrt(c, b2, c); },
     [] {
         mpf_add(A, A, c);
         mpf_div_2exp(A, A, 1);  // a_{k+1}
         mpf_sub(c, A, c);
     },
     [] { products::mul(c, c, c); }},  // ((a_k - b_k) / 2)^2
    [] {
        mpf_add(b2, b2, a2);
        mpf_div_2exp(b2, b2, 2);
        mpf_sub(b2, b2, c);
        mpf_mul_2exp(b2, b2, 1);  // (a_k^2 + b_k^2) / 2 - (a_k - b_k)^2 / 2 = a_k b_k
        mpf_add(a2, b2, c);       // a_k b_k + ((a_k - b_k) / 2)^2 = a_{k+1}^2
    }};

// Variant 1: one squaring, one root; a_{k+1}^2 by squaring a_{k+1}.
static const Variant VARIANT1 = {
    // b_k; c's value is spent, so it is the root's scratch too: b_k needs
    // no number of its own, one fewer at the peak
    {[] { newton_sqrt(c, b2, c); },
     [] {
         mpf_add(A, A, c);
         mpf_div_2exp(A, A, 1);  // a_{k+1}
         mpf_add(b2, b2, a2);
         mpf_div_2exp(b2, b2, 2);  // (a_k^2 + b_k^2) / 4
     },
     [] { products::mul(a2, A, A); }},  // a_{k+1}^2
    [] {
        mpf_sub(b2, a2, b2);
        mpf_mul_2exp(b2, b2, 1);  // 2 (a_{k+1}^2 - (a_k^2 + b_k^2) / 4) = a_k b_k
    }};

// Variant 2: one multiplication, one root, on the squares alone.
static const Variant VARIANT2 = {
    {[] { products::mul(c, a2, b2); },  // a_k^2 b_k^2
     [] {
         mpf_add(a2, a2, b2);
         mpf_div_2exp(a2, a2, 1);  // (a_k^2 + b_k^2) / 2
     },
     // a_k b_k = b_{k+1}^2; b2's old value is spent, so it lends the
     // scratch too and A is never written: one number fewer at the peak
     [] { newton_sqrt(b2, c, b2); }},
    [] {
        mpf_add(a2, a2, b2);
        mpf_div_2exp(a2, a2, 1);  // (a_k^2 + b_k^2 + 2 a_k b_k) / 4 = a_{k+1}^2
    }};

static const Variant& variant_for(int algorithm) {
    return algorithm == 0 ? VARIANT0 : algorithm == 1 ? VARIANT1 : VARIANT2;
}

// One iteration, each measured step timed between its own clock readings.
static void iterate(int k, const Variant& variant) {
    RunTicks tick = run_clock();
    const auto lap = [&tick](int i) {
        const RunTicks now = run_clock();
        T[i] += now - tick;
        tick = now;
    };
    step0(k);
    lap(0);
    for (int i = 0; i < 3; ++i) {
        variant.step[i]();
        lap(i + 1);
    }
    variant.rest();
    loop_end = run_clock();
}

int agm_iterations(long prec) {
    // After iteration j the counter holds 9 * 2^(j+1) - 10.
    const long bound = 2 * prec + 10;
    int n = 0;
    for (long v = -1; v < bound; v = 2 * v + 10) ++n;
    return n;
}

int agm_loop(int algorithm, bool dots) {
    const Variant& variant = variant_for(algorithm);
    const int n = agm_iterations(P);
    for (int k = 0; k < n; ++k) {
        if (dots) {
            std::printf(".");
            std::fflush(stdout);
        }
        iterate(k, variant);
    }
    return n;
}

void agm_finish() {
    mpf_mul_2exp(a2, a2, 1);
    newton_div(a2, a2, s, c);
    FD += run_clock() - loop_end;
}

}  // namespace agm
