// newton_sqrt_ui and newton_quot against the library's own root and quotient.

#include <gmp.h>
#include <gtest/gtest.h>

#include "mpf_units.h"
#include "mul.h"
#include "newton.h"
#include "products.h"

using namespace series;

namespace {

class SeriesKernels : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        mpf_set_default_prec(static_cast<mp_bitcnt_t>(GetParam()));
        newton_create_scratch();
    }
    void TearDown() override { newton_release_scratch(); }
};

// Runs f with GMP's products, then with the engine's from one word up.
template <class F>
void engine_both_ways(F f) {
    f(false);
    mul::use_transform_from(1, 1);
    products::use_engine(2);
    f(true);
    products::use_library();
    mul::use_transform_from(0, 0);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Precisions, SeriesKernels,
                         ::testing::Values(16, 64, 65, 200, 3337, 33235, 100000, 332209));

TEST_P(SeriesKernels, RootOf640320IntoScratchIsEightRootsOf10005) {
    newton_sqrt_ui(u, 640320);
    const long wp = static_cast<long>(mpf_get_prec(u));
    mpf_t exact;
    mpf_init2(exact, static_cast<mp_bitcnt_t>(wp + 64));
    mpf_sqrt_ui(exact, 10005);
    mpf_mul_ui(exact, exact, 8);
    EXPECT_LT(units_apart(u, exact, wp - 3), 1.0) << "precision " << wp;
    mpf_clear(exact);
}

TEST_P(SeriesKernels, RootMatchesLibraryRoot) {
    mpf_t root, exact;
    mpf_init(root);
    const long wp = static_cast<long>(mpf_get_prec(root));
    mpf_init2(exact, static_cast<mp_bitcnt_t>(wp + 64));
    for (unsigned long x : {2UL, 3UL, 10005UL, 640320UL, 4294967291UL, ~0UL}) {
        newton_sqrt_ui(root, x);
        mpf_sqrt_ui(exact, x);
        EXPECT_LT(units_apart(root, exact, wp - 3), 1.0) << x;
    }
    mpf_clears(root, exact, nullptr);
}

TEST_P(SeriesKernels, QuotientMatchesLibraryQuotientInPlaceOrNot) {
    gmp_randstate_t random;
    gmp_randinit_default(random);
    gmp_randseed_ui(random, 20261208);
    mpf_t a, b, quotient, exact;
    mpf_inits(a, b, quotient, nullptr);
    const long wp = static_cast<long>(mpf_get_prec(quotient));
    mpf_init2(exact, static_cast<mp_bitcnt_t>(wp + 64));
    for (int i = 0; i < 20; ++i) {
        // As the program divides: a around 3 times b, b in [1/2, 1).
        mpf_urandomb(b, random, static_cast<mp_bitcnt_t>(wp));
        mpf_add_ui(b, b, 1);
        mpf_div_2exp(b, b, 1);
        mpf_urandomb(a, random, static_cast<mp_bitcnt_t>(wp));
        mpf_add_ui(a, a, static_cast<unsigned long>(i));
        mpf_div(exact, a, b);
        newton_quot(quotient, a, b);
        EXPECT_LT(units_apart(quotient, exact, wp - 3), 1.0) << i;
        const mp_bitcnt_t a_prec = mpf_get_prec(a), b_prec = mpf_get_prec(b);
        newton_quot(a, a, b);
        EXPECT_EQ(mpf_cmp(a, quotient), 0) << "in place differs at " << i;
        EXPECT_EQ(mpf_get_prec(a), a_prec);
        EXPECT_EQ(mpf_get_prec(b), b_prec);
    }
    mpf_clears(a, b, quotient, exact, nullptr);
    gmp_randclear(random);
}

// The engine taking every product however short: the root and the quotient
// are the library's, value for value.
TEST(SeriesKernelsOnTheEngine, GiveTheLibrarysValues) {
    for (mp_bitcnt_t prec : {64UL, 1000UL, 33333UL}) {
        mpf_set_default_prec(prec);
        mpf_t root[2], quotient[2], a, b;
        mpf_inits(a, b, nullptr);
        mpf_set_ui(a, 355);
        mpf_set_ui(b, 113);
        mpf_sqrt(b, b);  // a divisor of many words
        engine_both_ways( [&](bool fast) {
            series::newton_create_scratch();
            mpf_init(root[fast]);
            mpf_init(quotient[fast]);
            series::newton_sqrt_ui(root[fast], 640320);
            series::newton_quot(quotient[fast], a, b);
            series::newton_release_scratch();
        });
        EXPECT_EQ(mpf_cmp(root[1], root[0]), 0) << prec;
        EXPECT_EQ(mpf_cmp(quotient[1], quotient[0]), 0) << prec;
        for (int i = 0; i < 2; ++i) mpf_clears(root[i], quotient[i], nullptr);
        mpf_clears(a, b, nullptr);
    }
}
