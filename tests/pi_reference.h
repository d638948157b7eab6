#pragma once
// True digits of pi, from an independent computation kept in tests/data, and
// the check that a printed value is within one unit of its last digit.

#include <cstddef>
#include <string>

// "3" followed by the first 10^6 decimals of pi.
const std::string& pi_reference_digits();

// "3." and the first `count` (at most 800,000) hexadecimal digits of pi,
// lowercase, truncated: made from the decimals by GMP's integer arithmetic.
std::string pi_reference_hex(std::size_t count);

// Checks the value 0.<mantissa> x 10^exponent, as the library prints pi with
// digits + 2 significant digits (trailing zeros dropped), against pi: it must
// differ from pi by less than one unit in its last place. Returns an empty
// string when it does, else a message naming the first wrong decimal. Where
// the reference ends one digit short of the printed value, the check is as
// tight as the reference allows (the last printed digit may be any).
std::string check_pi_digits(const std::string& mantissa, long exponent, int digits);

// The same for a line printed with mpf_out_str: "0.<mantissa>e<exponent>".
std::string check_pi_line(const std::string& line, int digits);
