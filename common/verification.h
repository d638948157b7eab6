#pragma once
// --verify as both programs run it: the value's hexadecimal digits against
// the digit-extraction formula, and every text against the value, each
// before anything is written, each saying on standard error what it found.
// The time the checks take is kept apart, for the reports to leave out.

#include <gmp.h>

#include <string>

#include "run_clock.h"

class Verification {
public:
    // engine: the texts' checks make their long product with the engine, on
    // `threads` threads (the formula's sums use them too).
    Verification(bool enabled, bool engine, int threads);

    bool enabled() const { return enabled_; }

    // Each true where the check passed or is not enabled; one line on
    // stderr either way when enabled.
    // x, pi within 2^-trusted, against the formula.
    bool value(const mpf_t x, long trusted);
    // The digit line as mpf_out_str wrote it with `count` digits.
    bool digit_line(const std::string& text, std::size_t count, const mpf_t x);
    // "3." and digits in base 10 or 16, truncated, for the digit line (hex)
    // or a file.
    bool truncated(const std::string& text, int base, const mpf_t x);

    // The clock ticks the checks took.
    RunTicks spent() const { return spent_; }

private:
    bool report(bool passed, const std::string& line, RunTicks start);

    bool enabled_, engine_;
    int threads_;
    RunTicks spent_{};
};
