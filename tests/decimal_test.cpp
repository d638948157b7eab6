// The conversion of our own against GMP's: the text mpf_out_str writes and
// the integer part of x 10^d, for random floats and for the values where a
// rounding is hard (runs of 9s and 0s at the last digit, exact halves, just
// below and above powers of ten), on one thread and on several, the engine
// taking every product however short.

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "decimal.h"
#include "mul.h"
#include "pi_reference.h"

namespace {

std::string library_text(const mpf_t x, std::size_t count) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    mpf_out_str(stream, 10, count, x);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

// The engine from one word up, its portable instructions too.
class Decimal : public ::testing::Test {
protected:
    void SetUp() override { mul::use_transform_from(1, 1); }
    void TearDown() override {
        mul::use_transform_from(0, 0);
        mul::use_instructions(best_);
    }
    const char* best_ = mul::instructions();
};

// x from decimal text, with `bits` of precision.
struct Float {
    mpf_t x;
    Float(const std::string& text, mp_bitcnt_t bits) {
        mpf_init2(x, bits);
        mpf_set_str(x, text.c_str(), 10);
    }
    ~Float() { mpf_clear(x); }
};

// Checks every thread count; returns how many texts were GMP's own.
unsigned long expect_library_text(const mpf_t x, std::size_t count, const std::string& what) {
    const unsigned long before = decimal::library_conversions();
    const std::string expected = library_text(x, count);
    for (int threads : {1, 2, 3})
        EXPECT_EQ(decimal::float_text(x, count, threads), expected) << what << ", " << count << " digits";
    return (decimal::library_conversions() - before) / 3;
}

}  // namespace

TEST_F(Decimal, RandomFloatsAreTheLibrarysText) {
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 2026);
    unsigned long cases = 0, library = 0;
    for (const char* instructions : {"portable", best_}) {
        mul::use_instructions(instructions);
        for (int i = 0; i < 300; ++i) {
            const std::size_t digits = 1 + gmp_urandomm_ui(random, i % 10 == 0 ? 40000 : 4000);
            const mp_bitcnt_t bits = static_cast<mp_bitcnt_t>(digits * 3.33) + gmp_urandomm_ui(random, 300);
            mpf_t x;
            mpf_init2(x, bits);
            mpf_urandomb(x, random, bits);
            mpf_mul_2exp(x, x, 1 + gmp_urandomm_ui(random, 63));  // 1 <= x < 2^64 mostly
            mpf_add_ui(x, x, 1);
            // Counts up to the float's and past them (GMP's own there).
            for (std::size_t count : {digits / 2 + 1, digits, digits + 3 + gmp_urandomm_ui(random, 40)}) {
                library += expect_library_text(x, count, "random float");
                ++cases;
            }
            mpf_clear(x);
        }
    }
    gmp_randclear(random);
    // Nearly all made by products: the comparison is not of GMP with itself.
    EXPECT_LT(library, cases / 4);
}

TEST_F(Decimal, RoundingAtRunsOfNinesAndZerosHalvesAndPowersOfTen) {
    const std::string pi = pi_reference_digits();
    unsigned long cases = 0, library = 0;
    // Pi at 765 digits ends in a run of 9s that rounds up through five
    // digits; at 761 and 17533 the digits after the count are 9s and 0s.
    for (std::size_t count : {761, 762, 765, 766, 1500, 4000, 17533, 17534}) {
        const Float x(pi.substr(0, 1) + "." + pi.substr(1, count + 40), (count + 40) * 3.33 + 64);
        library += expect_library_text(x.x, count, "pi");
        ++cases;
    }
    for (std::size_t count : {25, 1201, 2400, 5000}) {
        const std::string lead = "7" + std::string(count - 1, '3');
        for (const std::string tail : {"4999999999999999999999999999999999999999999", "5000000000000000000000000000000000000000001",
                                       "9999999999999999999999999999999999999999998", "0000000000000000000000000000000000000000001",
                                       "5", "50000000000000000000000000000000000000000000000000"}) {
            for (int point : {1, 7, 19}) {  // 1 to 19 digits before the point
                std::string text = lead + tail;
                text.insert(static_cast<std::size_t>(point), ".");
                const Float x(text, (count + 60) * 3.33 + 64);
                library += expect_library_text(x.x, count, text.substr(0, 30) + "..." + tail);
                ++cases;
            }
        }
        // Just below and above 10^19 and 10: the rounding carries into a new
        // leading digit, or the digits are 0s after a 1.
        for (const std::string& text : {"9999999999999999999." + std::string(count, '9'),
                                       "10000000000000000000." + std::string(count, '0') + "1",
                                       "9." + std::string(count + 30, '9'), "10." + std::string(count, '0') + "3"}) {
            const Float x(text, (count + 60) * 3.33 + 64);
            library += expect_library_text(x.x, count, text.substr(0, 25));
        }
    }
    // Exact halves: 1 + odd / 2^k has k decimals, the last a 5.
    for (unsigned k : {1u, 10u, 100u, 1000u, 4001u}) {
        mpf_t x;
        mpf_init2(x, k + 64);
        mpf_set_ui(x, 2 * k + 1);
        mpf_div_2exp(x, x, k);
        mpf_add_ui(x, x, 1);
        for (std::size_t count : {std::size_t{k}, std::size_t{k} + 1, std::size_t{k} + 5}) library += expect_library_text(x, count, "exact half");
        mpf_clear(x);
    }
    // Trailing zeros that the text drops: 1.25 and an integer.
    for (const char* text : {"1.25", "123456789012345678"}) {
        const Float x(text, 2000);
        for (std::size_t count : {1, 2, 3, 18, 100, 500}) library += expect_library_text(x.x, count, text);
    }
    EXPECT_LT(library, cases);
}

TEST_F(Decimal, FloatsOfMoreThan2To31BitsAreOursToo) {
    // A billion-digit float's precision in bits outgrows an int; its
    // conversion must not be handed to GMP for that (the words are
    // reserved, never touched).
    mpf_t x;
    mpf_init2(x, mp_bitcnt_t{40000000} * GMP_NUMB_BITS);
    mpf_set_d(x, 3.25);
    const unsigned long before = decimal::library_conversions();
    EXPECT_EQ(decimal::float_text(x, 1000, 1), "0.325e1");
    EXPECT_EQ(decimal::library_conversions(), before);
    mpf_clear(x);
}

TEST_F(Decimal, PiAtEveryCountTo2002IsTheLibrarysText) {
    const std::string pi = pi_reference_digits();
    const Float x(pi.substr(0, 1) + "." + pi.substr(1, 2100), 2100 * 3.33);
    for (std::size_t count = 1; count <= 2002; ++count)
        ASSERT_EQ(decimal::float_text(x.x, count, 2), library_text(x.x, count)) << count;
}

TEST_F(Decimal, FloorDigitsAreTheIntegerPartOfTheScaledValue) {
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 9);
    for (int i = 0; i < 200; ++i) {
        const std::size_t decimals = gmp_urandomm_ui(random, i % 20 == 0 ? 30000 : 3000);
        const mp_bitcnt_t bits = static_cast<mp_bitcnt_t>(decimals * 3.33) + 256;
        mpf_t x, scaled, ten;
        mpf_inits(scaled, ten, nullptr);
        mpf_init2(x, bits);
        mpf_set_prec(scaled, bits + 64 + decimals * 4);
        mpf_urandomb(x, random, bits);
        mpf_mul_2exp(x, x, 1 + gmp_urandomm_ui(random, 60));
        mpf_add_ui(x, x, 1);
        mpf_set_ui(ten, 10);
        mpf_pow_ui(scaled, ten, decimals);  // exact at this precision
        mpf_mul(scaled, scaled, x);
        mpz_t floor;
        mpz_init(floor);
        mpz_set_f(floor, scaled);
        char* expected = mpz_get_str(nullptr, 10, floor);
        for (int threads : {1, 3}) {
            const std::string digits = decimal::floor_digits(x, decimals, threads);
            ASSERT_FALSE(digits.empty()) << decimals;  // unsettled once in 2^100
            EXPECT_EQ(digits, expected) << decimals << " decimals, " << threads << " threads";
        }
        std::free(expected);
        mpz_clear(floor);
        mpf_clears(x, scaled, ten, nullptr);
    }
    gmp_randclear(random);
    // Runs of 0s far longer than the guard where a cut leaves a part (after
    // the first h = len - len/2 digits) and where the digits end, after
    // digits that are no finite binary fraction: each cut and dropped word
    // must keep the value above the true one, or a floor comes out a 9 short
    // and, the remainder being near 1, is taken for settled. Right is the
    // exact floor, or nothing.
    for (std::size_t decimals = 1201; decimals < 40000; decimals += 4999) {
        const std::size_t h = (decimals + 1) - (decimals + 1) / 2;
        std::string text = "3.";
        for (std::size_t i = 1; i < decimals + 80; ++i)
            text += (i > h && i <= h + 70) || (i > decimals - 5) ? '0' : "3142857"[i % 7];
        const Float x(text + "1", (decimals + 100) * 3.33);
        for (int threads : {1, 2}) {
            const std::string digits = decimal::floor_digits(x.x, decimals, threads);
            if (!digits.empty()) {
                EXPECT_EQ(digits, "3" + text.substr(2, decimals)) << decimals;
            }
        }
    }
}
