#pragma once
// The checks that vouch for a computed value of pi and for the texts made
// from it, each sharing no arithmetic with what it checks:
//  - the value's hexadecimal digits near the end of its precision against
//    those the digit-extraction formula gives for the same positions;
//  - a text of the value's digits against the value itself, modulo a random
//    61-bit prime: the integer the text writes against the same integer
//    derived from the value's words by one long product (by 5^k), with the
//    part the truncation or rounding leaves accounted for.
// Each returns whether it passed and the one line that says so, or says what
// disagreed and where.

#include <gmp.h>

#include <cstdint>
#include <string>

namespace verify {

struct Outcome {
    bool passed;
    std::string line;  // "verify: ...", without a line end
};

// How the text checks make their long product: GMP's, or the engine's on
// `threads` threads.
struct Arithmetic {
    bool engine;
    int threads;
};

// x, pi within 2^-trusted (trusted bits after the point), against the
// formula, on `threads` threads.
Outcome check_hex_digits(const mpf_t x, long trusted, int threads);

// text = "3." and the first `digits` decimals (base 10) or hexadecimal
// digits (base 16) of x, truncated: that is, the integer 3 base^digits + the
// digits is floor(x base^digits).
Outcome check_truncated_text(const std::string& text, int base, const mpf_t x, const Arithmetic& arithmetic);

// text is what mpf_out_str(stream, 10, count, x) writes for x > 0 ("0.314e1",
// trailing zeros dropped): x 10^(count - e) rounded to an integer, allowing
// either way within 1/16 of a half (the library rounds from an
// approximation there).
Outcome check_digit_line(const std::string& text, std::size_t count, const mpf_t x, const Arithmetic& arithmetic);

// Tests: flips a bit of a hexadecimal digit that check_hex_digits compares
// for x trusted to `trusted` bits.
void damage_compared_digit(mpf_t x, long trusted);

}  // namespace verify
