#pragma once
// Runs the AGM iteration in-process, as agmpi does, for tests.

#include <gmp.h>

#include <string>

struct AgmResult {
    int iterations;
    std::string dots;      // what the loop printed
    std::string mantissa;  // pi with digits + 2 significant digits
    long exponent;
};

// pi with agmpi's precision for digits; a copy of the value into value if given.
AgmResult agm_pi(int digits, int algorithm, mpf_ptr value = nullptr);
