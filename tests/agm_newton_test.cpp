// newton_sqrt and newton_div against the library's own root and quotient.

#include <gmp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "agm.h"
#include "mpf_units.h"

using namespace agm;

namespace {

// Random numbers for the kernels; the seed is fixed, PI_TEST_SEED overrides it.
struct Random {
    gmp_randstate_t state;
    unsigned long seed;
    Random() {
        const char* env = std::getenv("PI_TEST_SEED");
        seed = env ? std::strtoul(env, nullptr, 10) : 20261208UL;
        gmp_randinit_default(state);
        gmp_randseed_ui(state, seed);
    }
    ~Random() { gmp_randclear(state); }
    // Uniform in [lo, lo + 1) at the current default precision.
    void uniform(mpf_t x, unsigned long lo) {
        mpf_urandomb(x, state, mpf_get_default_prec());
        mpf_add_ui(x, x, lo);
    }
};

class AgmKernels : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { agm_create(GetParam()); }
    void TearDown() override { agm_release(); }
};

}  // namespace

// Precisions around the double branch, a ladder with no Newton step, the
// round-up cases and long climbs.
INSTANTIATE_TEST_SUITE_P(Precisions, AgmKernels,
                         ::testing::Values(16, 52, 55, 109, 348, 1000, 3337, 33235, 100003));

TEST_P(AgmKernels, SquareRootMatchesLibraryRoot) {
    Random random;
    const long wp = agm_prec();
    mpf_t x, root, scratch, exact;
    mpf_inits(x, root, scratch, nullptr);
    mpf_init2(exact, static_cast<mp_bitcnt_t>(wp + 64));
    for (int i = 0; i < 20; ++i) {
        random.uniform(x, static_cast<unsigned long>(i % 3));  // [0,1), [1,2), [2,3)
        if (mpf_sgn(x) == 0) continue;
        const mp_bitcnt_t prec_before = mpf_get_prec(x);
        newton_sqrt(root, x, scratch);
        EXPECT_EQ(mpf_get_prec(x), prec_before) << "x's precision not restored";
        mpf_sqrt(exact, x);
        // The double branch holds 53 bits; the ladder a few units at wp bits.
        const double units = P <= 53 ? units_apart(root, exact, 51) : units_apart(root, exact, wp - 3);
        EXPECT_LT(units, 1.0) << "P=" << P << " seed=" << random.seed << " i=" << i;
    }
    mpf_clears(x, root, scratch, exact, nullptr);
}

TEST_P(AgmKernels, QuotientMatchesLibraryQuotientInPlaceOrNot) {
    Random random;
    const long wp = agm_prec();
    mpf_t a, b, b_copy, quotient, scratch, exact;
    mpf_inits(a, b, b_copy, quotient, scratch, nullptr);
    mpf_init2(exact, static_cast<mp_bitcnt_t>(wp + 64));
    for (int i = 0; i < 20; ++i) {
        random.uniform(a, 5);
        random.uniform(b, 0);
        mpf_set(b_copy, b);
        mpf_div(exact, a, b);
        newton_div(quotient, a, b, scratch);  // lowers b's precision, as the program allows
        const double units = P <= 53 ? units_apart(quotient, exact, 51)
                                     : units_apart(quotient, exact, wp - 3);
        EXPECT_LT(units, 1.0) << "P=" << P << " seed=" << random.seed << " i=" << i;
        newton_div(a, a, b_copy, scratch);
        EXPECT_EQ(mpf_cmp(a, quotient), 0) << "in place differs, P=" << P;
    }
    mpf_clears(a, b, b_copy, quotient, scratch, exact, nullptr);
}

TEST(AgmKernelsInDoubles, LeaveScratchAlone) {
    // Up to 53 bits (11 digits) both kernels work in doubles only.
    for (int prec : {16, 52, 53}) {
        agm_create(prec);
        mpf_t x, y, u;
        mpf_inits(x, y, u, nullptr);
        mpf_set_ui(u, 7);
        mpf_set_ui(r, 8);
        mpf_set_ui(t, 9);
        mpf_set_d(x, 0.75);
        newton_sqrt(y, x, u);
        EXPECT_EQ(mpf_get_d(y), std::sqrt(0.75));
        newton_div(y, y, x, u);
        EXPECT_EQ(mpf_get_d(y), std::sqrt(0.75) / 0.75);
        EXPECT_EQ(mpf_cmp_ui(u, 7), 0);
        EXPECT_EQ(mpf_cmp_ui(r, 8), 0);
        EXPECT_EQ(mpf_cmp_ui(t, 9), 0);
        mpf_clears(x, y, u, nullptr);
        agm_release();
    }
}

// The kernels lower x's and b's precision where a step reads them at half
// precision. That is bookkeeping only: the library truncates operands to the
// destination's precision, never to their own, so the lowering changes no
// value. Were that not so, x r^2 would lose the bits 1 - x r^2 needs.
TEST(LibraryFloat, OperandPrecisionChangesNoProductOrDifference) {
    Random random;
    for (long wp : {200L, 3337L, 33235L}) {
        mpf_set_default_prec(static_cast<mp_bitcnt_t>(wp));
        mpf_t x, y, product, difference, lowered_product, lowered_difference;
        mpf_inits(x, y, product, difference, lowered_product, lowered_difference, nullptr);
        random.uniform(x, 1);
        random.uniform(y, 0);
        mpf_mul(product, x, y);
        mpf_sub(difference, x, y);
        mpf_set_prec_raw(x, static_cast<mp_bitcnt_t>(wp / 2));
        mpf_mul(lowered_product, x, y);
        mpf_sub(lowered_difference, x, y);
        mpf_set_prec_raw(x, static_cast<mp_bitcnt_t>(wp));
        EXPECT_EQ(mpf_cmp(product, lowered_product), 0) << "wp=" << wp << " seed=" << random.seed;
        EXPECT_EQ(mpf_cmp(difference, lowered_difference), 0) << "wp=" << wp;
        mpf_clears(x, y, product, difference, lowered_product, lowered_difference, nullptr);
    }
}
