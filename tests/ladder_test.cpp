// The precision ladder's schedules: the plain halving schedule (start at 53
// bits) and the guarded one the kernels use.

#include "ladder.h"

#include <gtest/gtest.h>

#include <vector>

struct Schedule {
    long start;
    std::vector<long> steps;
    long reached;  // precision held when the final step is due
};

static Schedule climb(long target, long start_max) {
    Ladder ladder = ladder_descent(target, start_max);
    Schedule schedule{ladder.prec, {}, 0};
    for (long step; (step = ladder_next_step(ladder, target)) != 0;) schedule.steps.push_back(step);
    schedule.reached = ladder.prec;
    return schedule;
}

TEST(Ladder, HalvingScheduleFromFiftyThreeBits) {
    const Schedule p55 = climb(55, 53);
    EXPECT_EQ(p55.start, 28);
    EXPECT_TRUE(p55.steps.empty());

    const Schedule p1000 = climb(1000, 53);
    EXPECT_EQ(p1000.start, 32);
    EXPECT_EQ(p1000.steps, (std::vector<long>{64, 126, 250, 500}));

    const Schedule p3337 = climb(3337, 53);
    EXPECT_EQ(p3337.start, 53);
    EXPECT_EQ(p3337.steps, (std::vector<long>{106, 210, 418, 836, 1670}));
}

TEST(Ladder, RoundUpBitIsSubtractedAfterTheStepThatDoubled) {
    // 109 halves to 55 (rounding up), then 28: the climb steps at 56, then
    // retraces 55, whose double reaches 109.
    const Schedule p109 = climb(109, 53);
    EXPECT_EQ(p109.start, 28);
    EXPECT_EQ(p109.steps, (std::vector<long>{56}));
    EXPECT_EQ(p109.reached, 55);
}

TEST(Ladder, GuardedClimbReachesEveryTargetWithinScratch) {
    for (long target = 54; target <= 300000; ++target) {
        const Schedule s = climb(target, LADDER_START_BITS);
        ASSERT_LE(s.start, LADDER_START_BITS) << target;
        ASSERT_GT(2 * s.start, LADDER_START_BITS) << target;
        // The climb ends holding half the target, which the final step doubles.
        ASSERT_EQ(s.reached, (target + 1) / 2) << target;
        long previous = s.start;
        for (long step : s.steps) {
            // Each step doubles what the one before reached, less a round-up bit.
            ASSERT_TRUE(step == 2 * previous || step == 2 * previous - 2) << target;
            ASSERT_LT(step, target) << target;
            ASSERT_LE(step + NEWTON_GUARD_BITS, ladder_scratch_bits(target)) << target;
            previous = step;
        }
        ASSERT_LE(target / 2 + NEWTON_GUARD_BITS, ladder_scratch_bits(target)) << target;
    }
}

TEST(Ladder, TargetAtOrBelowStartNeedsNoStep) {
    for (long target = 1; target <= LADDER_START_BITS; ++target) {
        const Schedule s = climb(target, LADDER_START_BITS);
        EXPECT_EQ(s.start, target);
        EXPECT_TRUE(s.steps.empty());
    }
}

TEST(SetPrecWithin, StopsAboveTheRoomInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is an assertion, compiled out of release builds";
#else
    mpf_t x;
    mpf_init2(x, 200);
    set_prec_within(x, 200, 200);
    EXPECT_DEATH(set_prec_within(x, 201, 200), "precision above");
    mpf_clear(x);
#endif
}
