#include "verification.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checks.h"

namespace {

// Tests damage, on purpose, what a check is about to see: PI_VERIFY_DAMAGE
// "value" flips a bit of the hexadecimal digit the value's check compares,
// "text" a digit in the middle of each text.
bool damaged(const char* what) {
    const char* asked = std::getenv("PI_VERIFY_DAMAGE");
    return asked && !std::strcmp(asked, what);
}

std::string damaged_text(const std::string& text) {
    std::string copy = text;
    char& c = copy[copy.size() / 2];
    c = c == '1' ? '2' : '1';
    return copy;
}

}  // namespace

Verification::Verification(bool enabled, bool engine, int threads)
    : enabled_(enabled), engine_(engine), threads_(threads < 1 ? 1 : threads) {}

bool Verification::report(bool passed, const std::string& line, RunTicks start) {
    std::fprintf(stderr, "%s\n", line.c_str());
    spent_ += run_clock() - start;
    return passed;
}

bool Verification::value(const mpf_t x, long trusted) {
    if (!enabled_) return true;
    const RunTicks start = run_clock();
    if (!damaged("value")) {
        const verify::Outcome o = verify::check_hex_digits(x, trusted, threads_);
        return report(o.passed, o.line, start);
    }
    mpf_t copy;
    mpf_init2(copy, mpf_get_prec(x));
    mpf_set(copy, x);
    verify::damage_compared_digit(copy, trusted);
    const verify::Outcome o = verify::check_hex_digits(copy, trusted, threads_);
    mpf_clear(copy);
    return report(o.passed, o.line, start);
}

bool Verification::digit_line(const std::string& text, std::size_t count, const mpf_t x) {
    if (!enabled_) return true;
    const RunTicks start = run_clock();
    const verify::Outcome o = verify::check_digit_line(damaged("text") ? damaged_text(text) : text, count, x,
                                                       {engine_, threads_});
    return report(o.passed, o.line, start);
}

bool Verification::truncated(const std::string& text, int base, const mpf_t x) {
    if (!enabled_) return true;
    const RunTicks start = run_clock();
    const verify::Outcome o = verify::check_truncated_text(damaged("text") ? damaged_text(text) : text, base, x,
                                                           {engine_, threads_});
    return report(o.passed, o.line, start);
}
