#pragma once
// Command-line numbers, read as atoi reads them: optional white space and sign,
// then leading digits; anything else ends the number, and no digits read as 0
// ("abc" is 0, "12abc" is 12). Unlike atoi, a number too large for the type
// saturates instead of being undefined, so it is caught by the range check.

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "precision.h"

inline long long read_number(const char* text) { return std::strtoll(text, nullptr, 10); }

// A numeric switch: its value clamped to the range of an int.
inline int read_switch(const char* text) {
    const long long value = read_number(text);
    return value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Reads the digit count into *digits. Outside 0..MAX_DIGITS prints one line on
// stderr naming the accepted range and returns false.
inline bool read_digit_count(const char* program, const char* text, int* digits) {
    const long long value = read_number(text);
    if (value < 0 || value > MAX_DIGITS) {
        std::fprintf(stderr, "%s: #digits must be from 0 to %d, got \"%s\"\n", program, MAX_DIGITS,
                     text);
        return false;
    }
    *digits = static_cast<int>(value);
    return true;
}
