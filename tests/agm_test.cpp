// The AGM iteration: iteration counts, agreement of the three formulations,
// and the printed digits against true pi.

#include <gtest/gtest.h>

#include <string>

#include "agm.h"
#include "agm_run.h"
#include "pi_reference.h"
#include "digits.h"

using namespace agm;

TEST(AgmLoop, IterationCountFollowsPrecision) {
    // P = 16, 348, 3337, 33235 are the precisions of 0, 100, 1000, 10000 digits.
    const struct {
        int digits, iterations;
    } cases[] = {{0, 3}, {100, 7}, {1000, 10}, {10000, 13}};
    for (const auto& c : cases) {
        for (int algorithm : {0, 1, 2}) {
            const AgmResult r = agm_pi(c.digits, algorithm);
            EXPECT_EQ(r.iterations, c.iterations) << c.digits << " digits";
            EXPECT_EQ(r.dots, std::string(static_cast<size_t>(c.iterations), '.'));
        }
    }
}

TEST(AgmLoop, VariantsAgreeToPrecision) {
    for (int digits : {0, 11, 12, 100, 1000, 4321, 20000}) {
        const int prec = precision_bits(digits);
        mpf_t first, other, diff;
        for (mpf_ptr x : {first, other, diff}) mpf_init2(x, static_cast<mp_bitcnt_t>(prec + 64));
        agm_pi(digits, 0, first);
        for (int algorithm : {1, 2}) {
            agm_pi(digits, algorithm, other);
            mpf_sub(diff, first, other);
            mpf_abs(diff, diff);
            // Three formulations, one value: within one unit of 2^-P, or of a
            // double's 48 or so bits where the kernels work in doubles.
            mpf_mul_2exp(diff, diff, static_cast<mp_bitcnt_t>(prec > 53 ? prec : 48));
            EXPECT_LT(mpf_get_d(diff), 1.0) << digits << " digits, variant " << algorithm;
        }
        for (mpf_ptr x : {first, other, diff}) mpf_clear(x);
    }
}

TEST(AgmLoop, AnyOtherAlgorithmRunsVariantTwo) {
    const int digits = 500, prec = precision_bits(digits);
    mpf_t v0, v2, other;
    for (mpf_ptr x : {v0, v2, other}) mpf_init2(x, static_cast<mp_bitcnt_t>(prec + 64));
    agm_pi(digits, 0, v0);
    agm_pi(digits, 2, v2);
    // The formulations round differently, so their last bits tell them apart.
    ASSERT_NE(mpf_cmp(v0, v2), 0);
    for (int algorithm : {5, -1, 1 << 30}) {
        agm_pi(digits, algorithm, other);
        EXPECT_EQ(mpf_cmp(other, v2), 0) << algorithm;
    }
    for (mpf_ptr x : {v0, v2, other}) mpf_clear(x);
}

static void expect_right_digits(int digits, int algorithm) {
    const AgmResult r = agm_pi(digits, algorithm);
    EXPECT_EQ(check_pi_digits(r.mantissa, r.exponent, digits), "")
        << digits << " digits, variant " << algorithm;
}

TEST(AgmDigits, EveryCountUpToThreeThousand) {
    for (int digits = 0; digits <= 3000; ++digits)
        for (int algorithm : {0, 1, 2}) expect_right_digits(digits, algorithm);
}

TEST(AgmDigits, SampledCountsUpToTwentyThousand) {
    for (int digits = 3001; digits <= 20000; digits += 293)
        for (int algorithm : {0, 1, 2}) expect_right_digits(digits, algorithm);
}

TEST(AgmDigits, CountsThatLostDigitsWithoutGuardBits) {
    expect_right_digits(1000, 2);
    for (int digits = 2452; digits <= 2461; ++digits)
        for (int algorithm : {0, 1, 2}) expect_right_digits(digits, algorithm);
}

TEST(AgmDigits, HundredThousand) {
    for (int algorithm : {0, 1, 2}) expect_right_digits(100000, algorithm);
}
