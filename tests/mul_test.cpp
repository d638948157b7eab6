// The engine against GMP: every product limb for limb equal to mpn_mul's (or
// mpn_sqr's), on every instruction set this machine has and the portable one,
// at the threshold, around every change of transform length up to 2^14, for
// unbalanced operands, squares, operands of all-ones words (the largest
// coefficients the bounds allow) and one-word operands, on 1, 2 and 3
// threads; products whose low words are left out; and a damaged product
// caught by the check and made again.

#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "mul.h"

namespace {

// Operands from a seed that can be overridden with MUL_TEST_SEED.
unsigned long seed() {
    const char* text = std::getenv("MUL_TEST_SEED");
    return text ? std::strtoul(text, nullptr, 10) : 20261208;
}

struct Operands {
    std::vector<mp_limb_t> a, b;
};

Operands random_operands(std::size_t an, std::size_t bn, gmp_randstate_t state, bool ones) {
    Operands x{std::vector<mp_limb_t>(an), std::vector<mp_limb_t>(bn)};
    if (ones) {
        x.a.assign(an, ~mp_limb_t{0});
        x.b.assign(bn, ~mp_limb_t{0});
    } else {
        // a with long runs of ones and zeros, b uniform; both full length.
        mpz_t z;
        mpz_init(z);
        mpz_rrandomb(z, state, 64 * an);
        mpz_export(x.a.data(), nullptr, -1, sizeof(mp_limb_t), 0, 0, z);
        mpz_urandomb(z, state, 64 * bn);
        mpz_setbit(z, 64 * bn - 1);
        mpz_export(x.b.data(), nullptr, -1, sizeof(mp_limb_t), 0, 0, z);
        mpz_clear(z);
    }
    return x;
}

// The engine's product (or square, b == a) against GMP's; a message where
// they differ.
std::string compare(const Operands& x, bool square, int threads) {
    const std::size_t an = x.a.size(), bn = square ? an : x.b.size();
    std::vector<mp_limb_t> expected(an + bn), got(an + bn, 0x5555);
    // The check would mend a wrong product with GMP's: a failed check is a
    // wrong product of the engine's own.
    const std::uint64_t failed_before = mul::failed_checks();
    if (square) {
        mpn_sqr(expected.data(), x.a.data(), static_cast<mp_size_t>(an));
        mul::sqr(got.data(), x.a.data(), an, threads);
    } else {
        mpn_mul(expected.data(), x.a.data(), static_cast<mp_size_t>(an), x.b.data(),
                static_cast<mp_size_t>(bn));
        mul::mul(got.data(), x.a.data(), an, x.b.data(), bn, threads);
    }
    const std::string where = std::string(mul::instructions()) + (square ? " square " : " product ") +
                              std::to_string(an) + " x " + std::to_string(bn) + " threads " +
                              std::to_string(threads) + " (seed " + std::to_string(seed()) + "): ";
    if (mul::failed_checks() != failed_before) return where + "the engine's product failed its check";
    for (std::size_t i = 0; i < an + bn; ++i)
        if (got[i] != expected[i])
            return where + "word " + std::to_string(i) + " differs";
    return "";
}

// Balanced lengths just below, at and just above each change of the
// transform's length, from the threshold up to transforms of 2^14. The
// threshold itself is no such change: below it GMP multiplies (with AVX2
// kernels on Intel's processors it lies past 2,100 limbs).
std::vector<std::size_t> lengths_around_changes() {
    std::vector<std::size_t> lengths;
    int last_k = mul::shape(2000, 2000).log2_length;
    for (std::size_t n = 2100; n < 60000; n += 1 + n / 400) {
        const int k = mul::shape(n, n).log2_length;
        if (k != last_k) {
            for (std::size_t m = n > 40 ? n - 40 : 1; m <= n + 40 && m < 60000; ++m) {
                const int before = mul::shape(m - 1, m - 1).log2_length, at = mul::shape(m, m).log2_length;
                if (before != at && before != 0) {
                    lengths.insert(lengths.end(), {m - 1, m, m + 1});
                    break;
                }
            }
            last_k = k;
        }
        if (k > 14) break;
    }
    return lengths;
}

// Operand lengths, and whether every word is all ones.
struct Case {
    std::size_t an, bn;
    bool ones;
};

std::vector<std::string> instruction_sets() {
    std::vector<std::string> sets;
    for (const char* name : {"portable", "avx2", "avx512"})
        if (mul::use_instructions(name)) sets.push_back(name);
    return sets;
}

}  // namespace

TEST(Mul, EqualsGmpAroundEveryLengthChangeOnEveryInstructionSet) {
    const std::vector<std::size_t> lengths = lengths_around_changes();
    ASSERT_GE(lengths.size(), 9u);  // at least three changes of length seen
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed());
    for (const std::string& set : instruction_sets()) {
        ASSERT_TRUE(mul::use_instructions(set.c_str()));
        for (std::size_t n : lengths) {
            ASSERT_TRUE(mul::uses_transform(n, n)) << n;
            const Operands x = random_operands(n, n, state, false);
            EXPECT_EQ(compare(x, false, 1), "");
            EXPECT_EQ(compare(x, true, 1), "");
        }
    }
    gmp_randclear(state);
}

TEST(Mul, EqualsGmpForUnbalancedAllOnesOneWordAndEveryThreadCount) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed() + 1);
    // Both sides of the thresholds (AVX-512: 2,500 limbs in all and 500 in
    // the shorter; otherwise 4,000 and 700), then beyond them.
    const Case cases[] = {{1249, 1249, false},   {1250, 1250, true},   {1251, 1250, false},
                          {1999, 1999, false},   {2000, 2000, true},   {1600, 499, false},
                          {1600, 500, false},    {3300, 699, false},   {3300, 700, true},
                          {20000, 5000, true},   {20001, 4999, false}, {30000, 1, false},
                          {12345, 12345, true},  {50000, 3000, false}};
    for (const std::string& set : instruction_sets()) {
        ASSERT_TRUE(mul::use_instructions(set.c_str()));
        for (const Case& c : cases) {
            const Operands x = random_operands(c.an, c.bn, state, c.ones);
            for (int threads : {1, 2, 3}) {
                EXPECT_EQ(compare(x, false, threads), "");
                if (c.an == c.bn) {
                    EXPECT_EQ(compare(x, true, threads), "");
                }
            }
        }
    }
    gmp_randclear(state);
}

// A product kept in the engine's block with its low words left out (summed
// apart in parts, only their carries and residue kept): the words kept are
// GMP's on every instruction set and thread count. All-ones operands give a
// product whose low words are zero, which the parts' sums reach only through
// carries that run across whole parts.
TEST(Mul, ProductWithoutItsLowWordsKeepsGmpsTopWords) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed() + 4);
    const Case cases[] = {{12345, 12345, true}, {12345, 12345, false}, {40000, 30000, false}, {40000, 40000, true}};
    ASSERT_GE(mul::shape(12345, 12345).log2_length, 14);  // long enough for threads
    for (const std::string& set : instruction_sets()) {
        ASSERT_TRUE(mul::use_instructions(set.c_str()));
        for (const Case& c : cases) {
            const Operands x = random_operands(c.an, c.bn, state, c.ones);
            const std::size_t n = c.an + c.bn;
            for (bool square : {false, true}) {
                if (square && c.an != c.bn) continue;
                std::vector<mp_limb_t> expected(n);
                if (square)
                    mpn_sqr(expected.data(), x.a.data(), static_cast<mp_size_t>(c.an));
                else
                    mpn_mul(expected.data(), x.a.data(), static_cast<mp_size_t>(c.an), x.b.data(),
                            static_cast<mp_size_t>(c.bn));
                for (int threads : {1, 2, 3})
                    for (std::size_t low : {std::size_t{300}, c.an - 1, n - 64}) {
                        const std::uint64_t failed_before = mul::failed_checks();
                        const mul::Product product(x.a.data(), c.an, square ? nullptr : x.b.data(), c.bn, threads,
                                                   low);
                        const std::string where = set + (square ? " square " : " product ") + std::to_string(c.an) +
                                                  " x " + std::to_string(c.bn) + " from word " + std::to_string(low) +
                                                  " threads " + std::to_string(threads);
                        EXPECT_EQ(mul::failed_checks(), failed_before) << where;
                        std::size_t differ = 0;
                        while (differ < n - low && product.words()[differ] == expected[low + differ]) ++differ;
                        EXPECT_EQ(differ, n - low) << where << ": word " << low + differ << " differs";
                    }
            }
        }
    }
    gmp_randclear(state);
}

// A wrong carry from the low words left out into the words kept must fail
// the check, on one thread and on several, and GMP's words then stand.
TEST(Mul, WrongCarryIntoTheWordsKeptIsCaught) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed() + 5);
    const Operands x = random_operands(12345, 12345, state, false);
    const std::size_t n = 2 * 12345, low = 12000;
    std::vector<mp_limb_t> expected(n);
    mpn_mul(expected.data(), x.a.data(), 12345, x.b.data(), 12345);
    for (int threads : {1, 2}) {
        const std::uint64_t before = mul::failed_checks();
        mul::damage_next_carry();
        const mul::Product product(x.a.data(), 12345, x.b.data(), 12345, threads, low);
        EXPECT_EQ(mul::failed_checks(), before + 1) << threads << " threads";
        EXPECT_TRUE(std::equal(expected.begin() + low, expected.end(), product.words())) << threads << " threads";
    }
    gmp_randclear(state);
}

TEST(Mul, DamagedProductIsCaughtAndMadeAgain) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed() + 2);
    const Operands x = random_operands(8000, 5000, state, false);
    const std::uint64_t before = mul::failed_checks();
    mul::damage_next_product();
    std::vector<mp_limb_t> expected(13000), got(13000);
    mpn_mul(expected.data(), x.a.data(), 8000, x.b.data(), 5000);
    mul::mul(got.data(), x.a.data(), 8000, x.b.data(), 5000, 1);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(mul::failed_checks(), before + 1);
    EXPECT_EQ(mul::failed_rechecks(), 0u);
    gmp_randclear(state);
}

// Two products with an operand in common, its transform made once: equal
// lengths (always made as a pair), unequal, the common operand the longer;
// a damaged first product made again by GMP, the second untouched.
TEST(Mul, PairWithAnOperandInCommonEqualsGmpsTwoProducts) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed() + 3);
    struct Case {
        std::size_t a1n, a2n, bn;
        bool ones;
    };
    const Case cases[] = {{3000, 3000, 3000, true}, {9000, 9000, 7000, false}, {20000, 15000, 18000, false},
                          {4000, 5000, 9000, false}};
    for (const std::string& set : instruction_sets()) {
        ASSERT_TRUE(mul::use_instructions(set.c_str()));
        for (const Case& c : cases) {
            const Operands x = random_operands(c.a1n, c.bn, state, c.ones), y = random_operands(c.a2n, 1, state, c.ones);
            for (int threads : {1, 2, 3}) {
                const bool damage = threads == 2;
                std::vector<mp_limb_t> expected1(c.a1n + c.bn), expected2(c.a2n + c.bn), got1(c.a1n + c.bn, 7),
                    got2(c.a2n + c.bn, 7);
                mpz_t a1, a2, b, p;
                mpz_inits(p, nullptr);
                mpz_roinit_n(a1, x.a.data(), static_cast<mp_size_t>(c.a1n));
                mpz_roinit_n(a2, y.a.data(), static_cast<mp_size_t>(c.a2n));
                mpz_roinit_n(b, x.b.data(), static_cast<mp_size_t>(c.bn));
                mpz_mul(p, a1, b);
                mpz_export(expected1.data(), nullptr, -1, sizeof(mp_limb_t), 0, 0, p);
                mpz_mul(p, a2, b);
                mpz_export(expected2.data(), nullptr, -1, sizeof(mp_limb_t), 0, 0, p);
                mpz_clear(p);
                const std::uint64_t before = mul::failed_checks();
                if (damage) mul::damage_next_product();
                mul::mul_pair(got1.data(), x.a.data(), c.a1n, got2.data(), y.a.data(), c.a2n, x.b.data(), c.bn,
                              threads);
                const std::string where = set + " " + std::to_string(c.a1n) + ", " + std::to_string(c.a2n) + " x " +
                                          std::to_string(c.bn) + " threads " + std::to_string(threads);
                EXPECT_EQ(got1, expected1) << where;
                EXPECT_EQ(got2, expected2) << where;
                EXPECT_EQ(mul::failed_checks(), before + (damage ? 1 : 0)) << where;
            }
        }
    }
    gmp_randclear(state);
}
