#pragma once
// The one place that decides how a run multiplies long numbers: GMP's
// mpf_mul and mpz_mul, or the project's engine (mul/) through the same
// truncations, so that every value is exactly the library's. The AGM, the
// kernels and the splitting multiply through here, and the digits are
// turned out through here: by GMP, or with the engine by the project's own
// conversion (decimal/), character for character GMP's.

#include <gmp.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace products {

// From now on long products go through the engine, on `threads` threads
// (>= 1); before any call, or after use_library(), GMP makes them all.
void use_engine(int threads);
void use_library();
bool engine_in_use();

// Within its scope the engine's products made on this thread use `threads`
// threads (a part of a run's threads working on a part of its numbers).
class ThreadShare {
public:
    explicit ThreadShare(int threads);
    ~ThreadShare();
    ThreadShare(const ThreadShare&) = delete;
    ThreadShare& operator=(const ThreadShare&) = delete;

private:
    int saved_;
};

// At the end of a run: where engine products failed their check and GMP's
// mended them, one line on stderr saying how many, and true; where GMP's
// failed the check too, one line that the machine is not computing
// reliably, and false. Silent and true where every check passed.
bool checks_held(const char* program);

// r <- a b, exactly what mpf_mul(r, a, b) gives: operands cut to r's
// precision, the same words kept, the same exponent. r may be a or b.
void mul(mpf_t r, const mpf_t a, const mpf_t b);

// r <- a b, as mpz_mul. r may be a or b.
void mul(mpz_t r, const mpz_t a, const mpz_t b);

// r1 <- a1 b, then between(), then r2 <- a2 b, as mul does each; where the
// engine makes the two as a pair (b's transform made once), both products
// and then between(). r1 is not b.
void mul_pair(mpz_t r1, const mpz_t a1, mpz_t r2, const mpz_t a2, const mpz_t b,
              const std::function<void()>& between = {});

// Writes what mpf_out_str(stream, 10, count, x) writes, in one write where
// the engine is in use; the number of characters, 0 on a write error.
std::size_t out_str(std::FILE* stream, const mpf_t x, std::size_t count);

// The same text, from the project's conversion with the engine, else GMP's.
std::string float_text(const mpf_t x, std::size_t count);

// With the engine, the digits of floor(x 10^decimals), 1 <= x < 2^64, from
// the project's conversion; empty without it or where those could not be
// settled.
std::string floor_digits(const mpf_t x, std::size_t decimals);

}  // namespace products
