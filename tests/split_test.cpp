// split_series against the series' closed form in factorials, its leaves and
// its trace; and the term count.

#include <gmp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "split.h"
#include "split_node.h"
#include "split_trace.h"
#include "terms.h"

using namespace series;

namespace {

std::string str(const mpz_t x) {
    char* s = mpz_get_str(nullptr, 10, x);
    std::string text(s);
    void (*free_fn)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &free_fn);
    free_fn(s, text.size() + 1);
    return text;
}

// T(k) = (6k)! / ((3k)! (k!)^3 640320^(3k)), the size of term k without its
// linear factor, exactly.
void term_ratio(mpq_t ratio, unsigned long k) {
    mpz_t num, den, f;
    mpz_inits(num, den, f, nullptr);
    mpz_fac_ui(num, 6 * k);
    mpz_fac_ui(den, 3 * k);
    mpz_fac_ui(f, k);
    mpz_pow_ui(f, f, 3);
    mpz_mul(den, den, f);
    mpz_ui_pow_ui(f, 640320, 3 * k);
    mpz_mul(den, den, f);
    mpq_set_num(ratio, num);
    mpq_set_den(ratio, den);
    mpq_canonicalize(ratio);
    mpz_clears(num, den, f, nullptr);
}

// The node (a, b] from factorials: p and g in closed form, q / p as the sum
// of (-1)^k (13591409 + 545140134 k) T(k) / T(a).
void expect_closed_form(unsigned long a, unsigned long b) {
    SplitNode node;
    split_series(node.p, node.q, node.g, a, b, 1);

    mpz_t p, g, f;
    mpz_inits(p, g, f, nullptr);
    // p = (b! / a!)^3 (640320^3 / 24)^(b - a)
    mpz_fac_ui(p, b);
    mpz_fac_ui(f, a);
    mpz_divexact(p, p, f);
    mpz_pow_ui(p, p, 3);
    mpz_set_str(f, "10939058860032000", 10);
    mpz_pow_ui(f, f, b - a);
    mpz_mul(p, p, f);
    EXPECT_EQ(mpz_cmp(node.p, p), 0) << "p(" << a << "," << b << ")";
    // g = ((6b)! / (3b)! / 24^b) / ((6a)! / (3a)! / 24^a)
    mpz_fac_ui(g, 6 * b);
    mpz_fac_ui(f, 3 * a);
    mpz_mul(g, g, f);
    mpz_fac_ui(f, 3 * b);
    mpz_divexact(g, g, f);
    mpz_fac_ui(f, 6 * a);
    mpz_divexact(g, g, f);
    mpz_ui_pow_ui(f, 24, b - a);
    mpz_divexact(g, g, f);
    EXPECT_EQ(mpz_cmp(node.g, g), 0) << "g(" << a << "," << b << ")";

    mpq_t sum, term, ta, got;
    mpq_inits(sum, term, ta, got, nullptr);
    term_ratio(ta, a);
    for (unsigned long k = a + 1; k <= b; ++k) {
        term_ratio(term, k);
        mpq_div(term, term, ta);
        mpz_set_ui(f, 545140134);
        mpz_mul_ui(f, f, k);
        mpz_add_ui(f, f, 13591409);
        if (k % 2 == 1) mpz_neg(f, f);
        mpz_mul(mpq_numref(term), mpq_numref(term), f);
        mpq_canonicalize(term);
        mpq_add(sum, sum, term);
    }
    mpq_set_num(got, node.q);
    mpq_set_den(got, node.p);
    mpq_canonicalize(got);
    EXPECT_TRUE(mpq_equal(got, sum)) << "q(" << a << "," << b << ") / p";
    mpq_clears(sum, term, ta, got, nullptr);
    mpz_clears(p, g, f, nullptr);
}

}  // namespace

TEST(SplitSeries, Leaves) {
    SplitNode first, second;
    split_series(first.p, first.q, first.g, 0, 1, 1);
    EXPECT_EQ(str(first.g), "5");
    EXPECT_EQ(str(first.p), "10939058860032000");
    EXPECT_EQ(str(first.q), "-2793657715");
    split_series(second.p, second.q, second.g, 1, 2, 0);
    EXPECT_EQ(str(second.g), "231");  // computed whatever gflag says
    EXPECT_EQ(str(second.p), "87512470880256000");
    EXPECT_EQ(str(second.q), "254994357387");
}

TEST(SplitSeries, MatchesClosedFormOverRanges) {
    const unsigned long ranges[][2] = {{0, 1}, {0, 2}, {0, 3}, {0, 7}, {0, 70},
                                       {5, 6}, {3, 17}, {64, 128}, {100, 301}};
    for (const auto& range : ranges) expect_closed_form(range[0], range[1]);
}

TEST(SplitSeries, TraceIsPostOrderWithGOnlyWhereNeeded) {
    output = 2;
    SplitNode node;
    testing::internal::CaptureStdout();
    split_series(node.p, node.q, node.g, 0, 3, 0);
    const std::string trace = testing::internal::GetCapturedStdout();
    output = 0;
    EXPECT_EQ(trace, SPLIT_TRACE_0_3);
}

TEST(SplitSeries, TraceOffPrintsNothing) {
    for (int setting : {0, 1, 4, 5}) {
        output = setting;
        SplitNode node;
        testing::internal::CaptureStdout();
        split_series(node.p, node.q, node.g, 0, 9, 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << setting;
    }
    output = 0;
}

TEST(SeriesTerms, RelativeTermMatchesExactValue) {
    // |term k| / sum, sum = 640320^(3/2) / (12 pi), in 200-bit floats.
    for (unsigned long k : {1UL, 2UL, 10UL, 100UL, 1000UL}) {
        mpq_t ratio;
        mpq_init(ratio);
        term_ratio(ratio, k);
        mpf_t x, y;
        mpf_init2(x, 200);
        mpf_init2(y, 200);
        mpf_set_q(x, ratio);
        mpf_mul_ui(x, x, 13591409 + 545140134 * k);
        mpf_sqrt_ui(y, 640320);
        mpf_pow_ui(y, y, 3);
        mpf_div(x, x, y);
        mpf_mul_ui(x, x, 12);
        long exp2;
        const double mantissa = mpf_get_d_2exp(&exp2, x);
        const double log10_exact =
            (std::log2(mantissa * M_PI) + static_cast<double>(exp2)) * std::log10(2.0);
        EXPECT_NEAR(log10_relative_term(static_cast<long>(k)), log10_exact, 1e-9 * static_cast<double>(k))
            << k;
        mpf_clear(x);
        mpf_clear(y);
        mpq_clear(ratio);
    }
}

TEST(SeriesTerms, CountsFromDigits) {
    // 0 to 11 digits come from term 0 alone; 12 to 14 need term 1, as do the
    // counts just below each multiple of about 14.18 digits up to ~20,500.
    for (int digits = 0; digits <= 11; ++digits) EXPECT_EQ(series_terms(digits), 0) << digits;
    const int cases[][2] = {{12, 1}, {14, 1}, {15, 1}, {27, 2}, {28, 2}, {29, 2},
                            {100, 7}, {1000, 70}, {4063, 286}, {16285, 1148}};
    for (const auto& c : cases) EXPECT_EQ(series_terms(c[0]), c[1]) << c[0];
    for (int digits = 21000; digits <= 200000; digits += 7)
        ASSERT_EQ(series_terms(digits), static_cast<int>(digits / 14.181)) << digits;
}
