// The engine-backed products against the library's: every float product
// (operands cut to the destination's precision, the words kept, the
// exponent) and every integer product exactly mpf_mul's and mpz_mul's, with
// the engine taking even one-word products, on random operands, precisions
// and signs, squares of one number and destinations that alias an operand.

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "mul.h"
#include "products.h"

namespace {

unsigned long seed() {
    const char* text = std::getenv("PRODUCTS_TEST_SEED");
    return text ? std::strtoul(text, nullptr, 10) : 20261208;
}

// The same number, word for word: size, exponent and every word.
bool identical(const mpf_t x, const mpf_t y) {
    if (x->_mp_size != y->_mp_size || (x->_mp_size != 0 && x->_mp_exp != y->_mp_exp)) return false;
    const int n = x->_mp_size < 0 ? -x->_mp_size : x->_mp_size;
    for (int i = 0; i < n; ++i)
        if (x->_mp_d[i] != y->_mp_d[i]) return false;
    return true;
}

// A random float of about `bits` bits of mantissa, either sign, exponent
// within a few words of 1.
void random_float(mpf_t x, gmp_randstate_t state, mp_bitcnt_t bits) {
    mpf_urandomb(x, state, bits);
    mpz_t e;
    mpz_init(e);
    mpz_urandomb(e, state, 8);
    const long shift = static_cast<long>(mpz_get_ui(e)) - 128;
    if (shift >= 0)
        mpf_mul_2exp(x, x, static_cast<mp_bitcnt_t>(shift));
    else
        mpf_div_2exp(x, x, static_cast<mp_bitcnt_t>(-shift));
    mpz_urandomb(e, state, 1);
    if (mpz_get_ui(e)) mpf_neg(x, x);
    mpz_clear(e);
}

// A product whose check failed is made again by GMP, so a fault in the
// engine's words shows only in the count of failed checks.
class Products : public ::testing::Test {
protected:
    void SetUp() override {
        mul::use_transform_from(1, 1);
        products::use_engine(2);
        failed_before_ = mul::failed_checks();
    }
    void TearDown() override {
        EXPECT_EQ(mul::failed_checks(), failed_before_) << "products the engine made wrong";
        products::use_library();
        mul::use_transform_from(0, 0);
    }

private:
    std::uint64_t failed_before_ = 0;
};

}  // namespace

TEST_F(Products, FloatProductIsTheLibrarysWordForWord) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed());
    const mp_bitcnt_t sizes[] = {1, 64, 65, 200, 1000, 4096, 30000, 200000};
    int cases = 0;
    for (mp_bitcnt_t r_bits : sizes)
        for (mp_bitcnt_t a_bits : sizes)
            for (mp_bitcnt_t b_bits : {a_bits / 3 + 1, a_bits, 2 * a_bits + 64}) {
                mpf_t a, b, expected, got;
                mpf_init2(a, a_bits);
                mpf_init2(b, b_bits);
                mpf_init2(expected, r_bits);
                mpf_init2(got, r_bits);
                random_float(a, state, a_bits);
                random_float(b, state, b_bits);
                const std::string where = "bits " + std::to_string(r_bits) + " <- " + std::to_string(a_bits) +
                                          " x " + std::to_string(b_bits) + " (seed " + std::to_string(seed()) + ")";
                mpf_mul(expected, a, b);
                products::mul(got, a, b);
                EXPECT_TRUE(identical(got, expected)) << "product " << where;
                mpf_mul(expected, a, a);
                products::mul(got, a, a);
                EXPECT_TRUE(identical(got, expected)) << "square " << where;
                // The destination an operand, at a precision lowered raw as
                // the kernels do.
                mpf_set_prec_raw(got, r_bits / 2 + 1);
                mpf_set_prec_raw(expected, r_bits / 2 + 1);
                mpf_set(got, a);
                mpf_set(expected, a);
                mpf_mul(expected, expected, b);
                products::mul(got, got, b);
                EXPECT_TRUE(identical(got, expected)) << "in place " << where;
                mpf_set_prec_raw(got, r_bits);
                mpf_set_prec_raw(expected, r_bits);
                for (mpf_ptr x : {a, b, expected, got}) mpf_clear(x);
                ++cases;
            }
    EXPECT_EQ(cases, 8 * 8 * 3);
    gmp_randclear(state);
}

TEST_F(Products, IntegerProductIsTheLibrarys) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, seed() + 1);
    mpz_t a, b, expected, got;
    mpz_inits(a, b, expected, got, nullptr);
    for (mp_bitcnt_t a_bits : {1, 64, 300, 5000, 100000})
        for (mp_bitcnt_t b_bits : {1, 64, 300, 5000, 100000}) {
            mpz_rrandomb(a, state, a_bits);
            mpz_urandomb(b, state, b_bits);
            mpz_neg(b, b);
            mpz_mul(expected, a, b);
            products::mul(got, a, b);
            EXPECT_EQ(mpz_cmp(got, expected), 0) << a_bits << " x " << b_bits;
            mpz_mul(expected, a, a);
            products::mul(got, a, a);
            EXPECT_EQ(mpz_cmp(got, expected), 0) << "square " << a_bits;
            mpz_set(got, a);
            mpz_mul(expected, a, b);
            products::mul(got, got, b);
            EXPECT_EQ(mpz_cmp(got, expected), 0) << "in place " << a_bits << " x " << b_bits;
        }
    mpz_clears(a, b, expected, got, nullptr);
    gmp_randclear(state);
}
