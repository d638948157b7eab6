#include "agm_run.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include "agm.h"
#include "digits.h"

AgmResult agm_pi(int digits, int algorithm, mpf_ptr value) {
    using namespace agm;
    agm_create(precision_bits(digits));
    agm_setup();
    testing::internal::CaptureStdout();
    AgmResult result{agm_loop(algorithm), "", "", 0};
    result.dots = testing::internal::GetCapturedStdout();
    agm_finish();
    if (value != nullptr) mpf_set(value, a2);
    char* text = mpf_get_str(nullptr, &result.exponent, 10, static_cast<size_t>(digits) + 2, a2);
    result.mantissa = text;
    void (*free_fn)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &free_fn);
    free_fn(text, result.mantissa.size() + 1);
    agm_release();
    return result;
}
