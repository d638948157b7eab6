#pragma once
// The digits a user can diff: "3." and exactly the requested number of
// decimals of pi, truncated, then a line end, written to a file.
//
// Truncation needs more than the value: a value within 10^-(d+1) of pi
// settles the d-th decimal unless the decimals after it form a run of 0s or
// 9s that the error could carry across. settled_decimals says when it
// cannot tell, and the caller computes pi again with more digits; no
// doubtful digit is ever written.

#include <gmp.h>

#include <string>

// "3." and the first `decimals` decimals of pi, truncated, from x > 0 with
// |x - pi| < 10^-bound (bound > decimals); empty where that bound leaves
// the last decimal open.
std::string settled_decimals(const mpf_t x, long long decimals, long long bound);

// Decimals past the count asked for with which a run that could not settle
// its digits computes pi again: a run of 0s or 9s that long after the last
// decimal is as rare as 10^-20.
constexpr long long RETRY_EXTRA_DIGITS = 20;

// Writes text and a line end to path, through path + ".part" renamed at the
// end, so that a failed run leaves no partial file under path's name. On
// failure one line on stderr naming the file and the error, and false.
bool write_digits_file(const char* program, const char* path, const std::string& text);
