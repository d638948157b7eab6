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

TEST(BsplitpiDigitsSlow, MillionWithFastOnTwoThreadsPrintsTheDefaultRunsLines) {
    // The engine's products at every level of the splitting, threaded, and
    // the project's conversion on threads: the digit line and the term line.
    const auto lines = [](const std::string& out) { return out.substr(0, out.find("\nBinary splitting")); };
    const ProgramRun plain = run_program(BSPLITPI_PATH, {"1000000", "1"});
    const ProgramRun fast = run_program(BSPLITPI_PATH, {"1000000", "1", "--fast", "--threads=2"});
    ASSERT_EQ(fast.status, 0);
    EXPECT_EQ(fast.err, "");  // no product the check caught and GMP made again
    EXPECT_GT(lines(plain.out).size(), 1000000u);
    EXPECT_EQ(lines(fast.out), lines(plain.out) + "\nWall-clock times, 2 threads");
}
