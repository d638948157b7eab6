#pragma once
// Command-line numbers, read as atoi reads them: optional white space and sign,
// then leading digits; anything else ends the number, and no digits read as 0
// ("abc" is 0, "12abc" is 12). Unlike atoi, a number too large for the type
// saturates instead of being undefined, so it is caught by the range check.

#include <climits>
#include <cstdio>
#include <cstdlib>

inline long long read_number(const char* text) { return std::strtoll(text, nullptr, 10); }

// A numeric switch: its value clamped to the range of an int.
inline int read_switch(const char* text) {
    const long long value = read_number(text);
    return value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Reads the digit count into *digits. Outside 0..max_digits prints one line on
// stderr naming the accepted range and returns false.
inline bool read_digit_count(const char* program, const char* text, long long max_digits,
                             long long* digits) {
    const long long value = read_number(text);
    if (value < 0 || value > max_digits) {
        std::fprintf(stderr, "%s: #digits must be from 0 to %lld, got \"%s\"\n", program,
                     max_digits, text);
        return false;
    }
    *digits = value;
    return true;
}
