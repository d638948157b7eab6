// What vouches for the digits: the digit-extraction formula against known
// hexadecimal digits of pi (made from the decimal reference by GMP, and
// the ones published for positions 10^6 and 10^7) on every instruction set
// and thread count; the checks pass on pi's true value and texts, and fail,
// saying where, on a value or a text damaged in one digit.

#include <gmp.h>
#include <gtest/gtest.h>

#include <string>

#include "bbp.h"
#include "checks.h"
#include "mul.h"
#include "pi_reference.h"

namespace {

// The first hexadecimal digits after position d (digit d + 1 first) from
// the formula.
std::string formula_digits(std::uint64_t d, int count, int threads) {
    const verify::PiFraction f = verify::pi_fraction(d, threads);
    std::string text;
    for (int i = 0; i < count; ++i) text += "0123456789abcdef"[(f.bits >> (124 - 4 * i)) & 15];
    return text;
}

// pi to `decimals` decimals from the reference, at a precision that holds
// them: within 10^-decimals of pi, so within 2^-trusted.
struct ReferencePi {
    mpf_t x;
    long trusted;
    explicit ReferencePi(std::size_t decimals) : trusted(static_cast<long>(decimals * 3.3219) - 4) {
        mpf_init2(x, static_cast<mp_bitcnt_t>(trusted + 64));
        const std::string digits = pi_reference_digits().substr(0, decimals + 1);
        mpf_set_str(x, ("0." + digits + "e1").c_str(), 10);
    }
    ~ReferencePi() { mpf_clear(x); }
};

}  // namespace

TEST(Bbp, KnownHexadecimalDigitsOnEveryInstructionSetAndThreadCount) {
    const std::string hex = pi_reference_hex(790000);
    for (const char* set : {"portable", "avx2", "avx512"}) {
        if (!verify::use_bbp_instructions(set)) continue;
        for (int threads : {1, 3})
            for (std::uint64_t d : {0ul, 1ul, 1000ul, 123457ul, 789970ul})
                EXPECT_EQ(formula_digits(d, 24, threads), hex.substr(2 + d, 24)) << set << " at " << d;
        // Published: the digits from position 10^6 and 10^7 on.
        EXPECT_EQ(formula_digits(999999, 14, 2), "26c65e52cb4593") << set;
    }
    EXPECT_EQ(formula_digits(9999999, 14, 2), "17af5863efed8d");
}

TEST(Checks, PassOnPiAndFailWhereOneDigitIsWrong) {
    const std::size_t decimals = 100000;
    const ReferencePi pi(decimals);
    for (const bool engine : {false, true}) {
        const verify::Arithmetic arithmetic{engine, 2};
        const std::string mode = engine ? "engine" : "GMP";
        EXPECT_TRUE(verify::check_hex_digits(pi.x, pi.trusted, 2).passed);
        // Texts: truncated decimals, hexadecimal digits, the digit line.
        std::string decimal = "3." + pi_reference_digits().substr(1, 90000), hex = pi_reference_hex(70000);
        EXPECT_TRUE(verify::check_truncated_text(decimal, 10, pi.x, arithmetic).passed) << mode;
        EXPECT_TRUE(verify::check_truncated_text(hex, 16, pi.x, arithmetic).passed) << mode;
        decimal[2 + 54321] ^= 1;  // decimal 54,322
        hex[2 + 4567] = hex[2 + 4567] == 'a' ? 'b' : 'a';
        EXPECT_EQ(verify::check_truncated_text(decimal, 10, pi.x, arithmetic).line,
                  "verify: the decimal text disagrees with the value from digit 54322 on (modulo a 61-bit prime)")
            << mode;
        EXPECT_EQ(verify::check_truncated_text(hex, 16, pi.x, arithmetic).line,
                  "verify: the hexadecimal text disagrees with the value from digit 4568 on (modulo a 61-bit prime)")
            << mode;
    }
    // The digit line as mpf_out_str writes it.
    char* printed = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&printed, &size);
    mpf_out_str(stream, 10, 50002, pi.x);
    std::fclose(stream);
    std::string line(printed, size);
    std::free(printed);
    EXPECT_TRUE(verify::check_digit_line(line, 50002, pi.x, {true, 1}).passed);
    line[30000] = line[30000] == '7' ? '6' : '7';
    EXPECT_FALSE(verify::check_digit_line(line, 50002, pi.x, {true, 1}).passed);
}

TEST(Checks, AValueWrongInOneHexadecimalDigitFailsNamingIt) {
    ReferencePi pi(30000);
    const long trusted = pi.trusted;
    const verify::Outcome right = verify::check_hex_digits(pi.x, trusted, 1);
    ASSERT_TRUE(right.passed) << right.line;
    verify::damage_compared_digit(pi.x, trusted);
    const verify::Outcome wrong = verify::check_hex_digits(pi.x, trusted, 1);
    EXPECT_FALSE(wrong.passed);
    EXPECT_NE(wrong.line.find(" disagree with the digit-extraction formula: the value has "), std::string::npos)
        << wrong.line;
}
