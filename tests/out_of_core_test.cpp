// Products of numbers on disk against GMP's: budgets so small that every
// product is halved again and again down to a few dozen limbs, blocks of an
// odd length so that reads and writes straddle them, shapes that take each
// way of cutting (halves, pieces, halves whose differences are zero or
// negative, operands of all-ones words); a budget at which the engine's
// transform makes the parts, on two threads; the engine's own products
// sent to disk above a budget; and a damaged block or a missing directory,
// which are errors, never a product.

#include <gmp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "mul.h"
#include "out_of_core.h"

namespace {

class OutOfCore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/ooc-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        gmp_randinit_default(state_);
        gmp_randseed_ui(state_, 20261210);
    }
    void TearDown() override {
        gmp_randclear(state_);
        EXPECT_EQ(rmdir(dir_.c_str()), 0) << "scratch files left in " << dir_;
    }

    // n limbs with long runs of ones and zeros, the top one nonzero.
    std::vector<mp_limb_t> random_limbs(std::size_t n) {
        std::vector<mp_limb_t> x(n);
        mpz_t z;
        mpz_init(z);
        mpz_rrandomb(z, state_, 64 * n);
        mpz_export(x.data(), nullptr, -1, sizeof(mp_limb_t), 0, 0, z);
        mpz_clear(z);
        return x;
    }

    // The product on disk against mpn_mul's; a message where they differ.
    std::string compare(const std::vector<mp_limb_t>& a, const std::vector<mp_limb_t>& b, const mul::Budget& budget) {
        const std::size_t an = a.size(), bn = b.size();
        if (mul::fits_in_memory(an, bn, budget)) return "fits the budget: nothing goes to disk";
        mul::Stored sa(dir_, an, budget.block), sb(dir_, bn, budget.block), r(dir_, an + bn, budget.block);
        sa.write(0, an, a.data());
        sb.write(0, bn, b.data());
        mul::mul_stored(r, {&sa, 0, an}, {&sb, 0, bn}, budget);
        std::vector<mp_limb_t> expected(an + bn), got(an + bn);
        if (an >= bn)
            mpn_mul(expected.data(), a.data(), static_cast<mp_size_t>(an), b.data(), static_cast<mp_size_t>(bn));
        else
            mpn_mul(expected.data(), b.data(), static_cast<mp_size_t>(bn), a.data(), static_cast<mp_size_t>(an));
        r.read(0, an + bn, got.data());
        for (std::size_t i = 0; i < an + bn; ++i)
            if (got[i] != expected[i]) return "first wrong limb " + std::to_string(i);
        return "";
    }

    std::string dir_;
    gmp_randstate_t state_;
};

TEST_F(OutOfCore, ProductsMatchGmpAtEveryWayOfCutting) {
    const mul::Budget tiny{8192, 1, 7};
    const std::pair<std::size_t, std::size_t> shapes[] = {
        {3000, 3000}, {3001, 1999}, {1999, 3001}, {2501, 1252}, {5000, 37}, {777, 200}, {4096, 4096}};
    for (const auto& [an, bn] : shapes) {
        EXPECT_EQ(compare(random_limbs(an), random_limbs(bn), tiny), "") << an << " x " << bn;
        const std::vector<mp_limb_t> ones_a(an, ~mp_limb_t{0}), ones_b(bn, ~mp_limb_t{0});
        EXPECT_EQ(compare(ones_a, ones_b, tiny), "") << "all ones, " << an << " x " << bn;
    }
    // Halves equal (a zero difference), and the high half the larger (a
    // negative one), at every level of the halving.
    std::vector<mp_limb_t> equal = random_limbs(1024), rising(2048);
    for (std::size_t i = 0; i < 1024; ++i) equal.push_back(equal[i]);
    for (std::size_t i = 0; i < rising.size(); ++i) rising[i] = i * 0x9e3779b97f4a7c15ull >> 8 | (mp_limb_t{i} << 52);
    EXPECT_EQ(compare(equal, random_limbs(2048), tiny), "") << "equal halves";
    EXPECT_EQ(compare(rising, random_limbs(2040), tiny), "") << "the high half larger";
    EXPECT_EQ(compare(equal, rising, tiny), "") << "both";
}

TEST_F(OutOfCore, ProductsMatchGmpWhenTheEngineMakesTheParts) {
    // The transform a prime at a time on two threads: 10 MiB holding the
    // operands and both transforms, 6 MiB both transforms, 4 MiB one (the
    // other read back from disk); 3 and 2 MiB the same for the halves.
    for (const std::size_t mib : {10, 6, 4, 3, 2}) {
        const mul::Budget budget{mib << 20, 2, 1000};
        EXPECT_EQ(compare(random_limbs(300000), random_limbs(210000), budget), "") << mib << " MiB";
    }
}

TEST_F(OutOfCore, EngineProductsAboveTheBudgetAreMadeOnDiskAlike) {
    struct Off {
        ~Off() { mul::spill_products(nullptr, 0); }
    } off;
    mul::spill_products(dir_.c_str(), std::size_t{1} << 20);
    const std::vector<mp_limb_t> a = random_limbs(120000), b = random_limbs(70000);
    std::vector<mp_limb_t> expected(190000), square(240000), got(240000), got2(190000);
    mpn_mul(expected.data(), a.data(), 120000, b.data(), 70000);
    mpn_sqr(square.data(), a.data(), 120000);
    const std::uint64_t written = mul::Stored::bytes_written();
    mul::mul(got.data(), b.data(), 70000, a.data(), 120000, 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << "mul";
    mul::sqr(got.data(), a.data(), 120000, 1);
    EXPECT_TRUE(std::equal(square.begin(), square.end(), got.begin())) << "sqr";
    mul::mul_pair(got.data(), a.data(), 120000, got2.data(), a.data(), 120000, b.data(), 70000, 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << "pair, first";
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got2.begin())) << "pair, second";
    const mul::Product top(a.data(), 120000, nullptr, 0, 2, 100000);
    EXPECT_TRUE(std::equal(square.begin() + 100000, square.end(), top.words())) << "square's top words";
    EXPECT_GT(mul::Stored::bytes_written(), written + 5 * 190000 * sizeof(mp_limb_t)) << "nothing went to disk";
}

TEST_F(OutOfCore, DamagedBlockOrMissingDirectoryIsAnError) {
    const mul::Budget tiny{8192, 1, 16};
    const std::vector<mp_limb_t> a = random_limbs(500), b = random_limbs(400);
    mul::Stored sa(dir_, 500, 16), sb(dir_, 400, 16), r(dir_, 900, 16);
    sa.write(0, 500, a.data());
    sb.write(0, 400, b.data());
    sb.damage(333);
    try {
        mul::mul_stored(r, {&sa, 0, 500}, {&sb, 0, 400}, tiny);
        ADD_FAILURE() << "a damaged operand was multiplied";
    } catch (const mul::StoreError& e) {
        EXPECT_EQ(std::string(e.what()), dir_ + ": a scratch file read back damaged");
    }
    try {
        mul::Stored missing(dir_ + "/none", 10);
        ADD_FAILURE() << "a scratch file was made in a missing directory";
    } catch (const mul::StoreError& e) {
        EXPECT_EQ(std::string(e.what()), dir_ + "/none: cannot make a scratch file: No such file or directory");
    }
}

}  // namespace
