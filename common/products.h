#pragma once
// The one place that decides how a run multiplies long numbers: GMP's
// mpf_mul and mpz_mul, or the project's engine (mul/) through the same
// truncations, so that every value is exactly the library's. The AGM, the
// kernels and the splitting multiply through here.

#include <gmp.h>

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

}  // namespace products
