#!/usr/bin/env python3
"""The comparison's digit check: values within one unit of their last digit
pass, even where rounding carried through a run of 9s; a wrong digit stops
the run, with its position."""

import os
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from digits import check_against_reference, check_pair, mantissa  # noqa: E402

with open(os.path.join(ROOT, "tests", "data", "pi-1000000.txt")) as f:
    PI = mantissa(f.read().strip())

# pi to 767 significant digits, rounded: the rounding carries through the
# run of 9s after decimal 761 and the trailing zeros are dropped.
ROUNDED_765 = PI[:761] + "5"


class DigitCheck(unittest.TestCase):
    def test_rounded_values_pass_where_strings_differ(self):
        self.assertNotEqual(ROUNDED_765, PI[:762])
        self.assertIsNone(check_against_reference(ROUNDED_765, PI, length=767))
        self.assertIsNone(check_against_reference(PI[:767], PI))        # truncated
        self.assertIsNone(check_pair(ROUNDED_765.ljust(767, "0"), PI[:767]))

    def test_a_wrong_digit_is_caught_where_it_is(self):
        wrong = PI[:501] + str((int(PI[501]) + 1) % 10) + PI[502:1000]
        self.assertEqual(check_against_reference(wrong, PI), 500)
        self.assertEqual(check_pair(wrong, PI[:1000]), 500)
        # One unit off in the last digit, the other way from the truth.
        below = PI[:999] + str(int(PI[999]) - 1)
        self.assertEqual(check_against_reference(below, PI), 998)

    def test_beyond_the_reference_only_its_length_is_checked(self):
        longer = PI + "123"
        self.assertIsNone(check_against_reference(longer, PI))
        self.assertIsNotNone(check_against_reference("3" + "0" * (len(PI) + 2), PI))


if __name__ == "__main__":
    unittest.main()
