// Every digit count up to 20,000 and a million digits, each formulation,
// against true pi. Minutes, not seconds: labelled slow.

#include <gtest/gtest.h>

#include "agm_run.h"
#include "pi_reference.h"

static void expect_right_digits(int digits, int algorithm) {
    const AgmResult r = agm_pi(digits, algorithm);
    EXPECT_EQ(check_pi_digits(r.mantissa, r.exponent, digits), "")
        << digits << " digits, variant " << algorithm;
}

class AgmDigitsSlow : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Variants, AgmDigitsSlow, ::testing::Values(0, 1, 2));

TEST_P(AgmDigitsSlow, EveryCountUpToTwentyThousand) {
    for (int digits = 0; digits <= 20000; ++digits) expect_right_digits(digits, GetParam());
}

TEST_P(AgmDigitsSlow, SpreadCountsUpToThreeHundredThousand) {
    for (int digits = 20011; digits <= 300000; digits += 5987) expect_right_digits(digits, GetParam());
}

TEST_P(AgmDigitsSlow, Million) {
    // 999,999 digits print 10^6 decimals, all known: the strict check. 10^6
    // digits print one decimal more than the reference holds.
    expect_right_digits(999999, GetParam());
    expect_right_digits(1000000, GetParam());
}
