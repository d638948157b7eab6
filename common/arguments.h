#pragma once
// Command-line numbers, read as atoi reads them: optional white space and sign,
// then leading digits; anything else ends the number, and no digits read as 0
// ("abc" is 0, "12abc" is 12). Unlike atoi, a number too large for the type
// saturates instead of being undefined, so it is caught by the range check.
// Scripts rely on that reading; where an argument is not a plain decimal
// integer (a sign and digits alone) or its value does not fit, one warning
// line on stderr says how it was read, and the run goes on.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

inline long long read_number(const char* text) { return std::strtoll(text, nullptr, 10); }

// Whether text is an optional sign and one or more decimal digits, alone.
inline bool plain_integer(const char* text) {
    const char* digits = text + (*text == '+' || *text == '-');
    return *digits != '\0' && std::strspn(digits, "0123456789") == std::strlen(digits);
}

// Says how text was read, where that is not what it plainly says: `value`
// read from a text that is not a plain integer, or a plain one that did not
// fit (`fits` false).
inline void note_reading(const char* program, const char* text, long long value, bool fits) {
    if (!plain_integer(text) || !fits) std::fprintf(stderr, "%s: warning: '%s' read as %lld\n", program, text, value);
}

// A numeric switch: its value clamped to the range of an int.
inline int read_switch(const char* program, const char* text) {
    const long long value = read_number(text);
    const int clamped = value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : static_cast<int>(value);
    note_reading(program, text, clamped, clamped == value);
    return clamped;
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
    note_reading(program, text, value, true);
    *digits = value;
    return true;
}
