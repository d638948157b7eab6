// Every digit count up to 20,000 and a million digits, each formulation,
// against true pi. Minutes, not seconds: labelled slow.

#include <gtest/gtest.h>

#include "agm_run.h"
#include "mul.h"
#include "pi_reference.h"
#include "products.h"

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

TEST_P(AgmDigitsSlow, MillionThroughTheEngineOnTwoThreadsIsTheLibrarysValue) {
    // Products of every length the run makes at its sizes, threaded ones
    // among them: the value itself, not only its digits, is the library's.
    mpf_t plain, fast;
    mpf_init(plain);
    mpf_init(fast);
    const AgmResult expected = agm_pi(1000000, GetParam(), plain);
    products::use_engine(2);
    const AgmResult got = agm_pi(1000000, GetParam(), fast);
    products::use_library();
    EXPECT_EQ(mpf_cmp(fast, plain), 0) << "variant " << GetParam();
    EXPECT_EQ(mul::failed_checks(), 0u) << "products the check caught and GMP made again";
    EXPECT_EQ(got.mantissa, expected.mantissa);
    EXPECT_EQ(got.exponent, expected.exponent);
    mpf_clear(plain);
    mpf_clear(fast);
}
