// bsplitpi at every digit count up to 20,000 and at a million digits, as a
// user runs it, against true pi. Minutes, not seconds: labelled slow.

#include <gtest/gtest.h>

#include <string>

#include "pi_reference.h"
#include "run_program.h"

static void expect_right_digits(int digits) {
    const ProgramRun run = run_program(BSPLITPI_PATH, {std::to_string(digits), "1"});
    ASSERT_EQ(run.status, 0) << digits;
    const auto start = run.out.find('\n') + 1;
    const std::string line = run.out.substr(start, run.out.find('\n', start) - start);
    EXPECT_EQ(check_pi_line(line, digits), "") << digits << " digits";
}

TEST(BsplitpiDigitsSlow, EveryCountUpToTwentyThousand) {
    for (int digits = 0; digits <= 20000; ++digits) expect_right_digits(digits);
}

TEST(BsplitpiDigitsSlow, SpreadCountsUpToThreeHundredThousand) {
    for (int digits = 20011; digits <= 300000; digits += 5987) expect_right_digits(digits);
}

TEST(BsplitpiDigitsSlow, HundredThousandAndMillion) {
    expect_right_digits(100000);
    expect_right_digits(999999);
    expect_right_digits(1000000);
}
