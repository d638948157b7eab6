#include "products.h"

#include <cstdio>
#include <cstring>

#include "decimal.h"
#include "mul.h"

namespace products {

namespace {

int engine_threads = 0;  // 0: GMP alone
thread_local int share = 0;  // this thread's part of them, 0: all

int threads_here() { return share > 0 ? share : engine_threads; }

// The words from `low` up of {a, an} {b, bn}, an, bn >= 1, in the engine's
// scratch (or GMP's product below its threshold). The same numbers (a == b,
// an == bn) are squared.
mul::Product limbs_product(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                           std::size_t low = 0) {
    if (a == b && an == bn) return mul::Product(a, an, nullptr, 0, threads_here(), low);
    return mul::Product(a, an, b, bn, threads_here(), low);
}

// r's size and sign, once its words {r, size} hold the product's
// magnitude: the top zero words dropped.
void finish_product(mpz_t r, std::size_t size, bool negative) {
    const mp_limb_t* words = mpz_limbs_read(r);
    while (size > 0 && words[size - 1] == 0) --size;
    mpz_limbs_finish(r, negative ? -static_cast<mp_size_t>(size) : static_cast<mp_size_t>(size));
}

}  // namespace

void use_engine(int threads) { engine_threads = threads < 1 ? 1 : threads; }
void use_library() { engine_threads = 0; }
bool engine_in_use() { return engine_threads > 0; }

ThreadShare::ThreadShare(int threads) : saved_(share) { share = threads < 1 ? 1 : threads; }
ThreadShare::~ThreadShare() { share = saved_; }

bool checks_held(const char* program) {
    if (mul::failed_rechecks() > 0) {
        std::fprintf(stderr,
                     "%s: %llu products failed their check even when made again by GMP: this machine is "
                     "not computing reliably\n",
                     program, static_cast<unsigned long long>(mul::failed_rechecks()));
        return false;
    }
    if (mul::failed_checks() > 0)
        std::fprintf(stderr, "%s: %llu products failed their check and were made again by GMP\n", program,
                     static_cast<unsigned long long>(mul::failed_checks()));
    return true;
}

// The library's float product: each operand cut to its top prec words,
// prec = r's precision in words (which is one more than its precision in
// bits asks for); the full product of those; a zero top word dropped (with
// the exponent one lower); then the top prec + 1 words kept.
void mul(mpf_t r, const mpf_t a, const mpf_t b) {
    if (!engine_in_use()) {
        mpf_mul(r, a, b);
        return;
    }
    const mp_size_t prec = r->_mp_prec;
    mp_size_t an = a->_mp_size < 0 ? -a->_mp_size : a->_mp_size;
    mp_size_t bn = b->_mp_size < 0 ? -b->_mp_size : b->_mp_size;
    if (an == 0 || bn == 0) {
        r->_mp_size = 0;
        r->_mp_exp = 0;
        return;
    }
    const mp_limb_t* ap = a->_mp_d;
    const mp_limb_t* bp = b->_mp_d;
    const bool same = a == b;
    if (an > prec) {
        ap += an - prec;
        an = prec;
    }
    if (bn > prec) {
        bp += bn - prec;
        bn = prec;
    }
    if (same) bp = ap;
    // Words below an + bn - prec - 2 are never kept, whatever the top word.
    const mp_size_t low = an + bn > prec + 2 ? an + bn - prec - 2 : 0;
    const mul::Product product = limbs_product(ap, static_cast<std::size_t>(an), bp, static_cast<std::size_t>(bn),
                                               static_cast<std::size_t>(low));
    mp_size_t size = an + bn;
    const mp_size_t adjust = product.words()[size - 1 - low] == 0;
    size -= adjust;
    mp_size_t first = 0;  // >= low
    if (size > prec + 1) {
        first = size - (prec + 1);
        size = prec + 1;
    }
    const mp_limb_t* top = product.words() + (first - low);
    const mp_exp_t exp = a->_mp_exp + b->_mp_exp - adjust;
    const bool negative = (a->_mp_size < 0) != (b->_mp_size < 0);
    std::memcpy(r->_mp_d, top, static_cast<std::size_t>(size) * sizeof(mp_limb_t));
    r->_mp_size = negative ? -size : size;
    r->_mp_exp = exp;
}

void mul(mpz_t r, const mpz_t a, const mpz_t b) {
    const std::size_t an = mpz_size(a), bn = mpz_size(b);
    if (!engine_in_use() || !mul::uses_transform(an, bn)) {
        mpz_mul(r, a, b);
        return;
    }
    const bool negative = (mpz_sgn(a) < 0) != (mpz_sgn(b) < 0);
    const mul::Product product =
        limbs_product(mpz_limbs_read(a), an, a == b ? mpz_limbs_read(a) : mpz_limbs_read(b), bn);
    // Only the words up to the top nonzero one are written: asking r for one
    // word more than it holds would move it to a larger block.
    std::size_t size = an + bn;
    while (size > 0 && product.words()[size - 1] == 0) --size;
    std::memcpy(mpz_limbs_write(r, static_cast<mp_size_t>(size)), product.words(), size * sizeof(mp_limb_t));
    finish_product(r, size, negative);
}

void mul_pair(mpz_t r1, const mpz_t a1, mpz_t r2, const mpz_t a2, const mpz_t b,
              const std::function<void()>& between) {
    const std::size_t a1n = mpz_size(a1), a2n = mpz_size(a2), bn = mpz_size(b);
    if (!engine_in_use() || a1n == 0 || a2n == 0 || bn == 0 || !mul::pairs(a1n, a2n, bn)) {
        mul(r1, a1, b);
        if (between) between();
        mul(r2, a2, b);
        return;
    }
    // Into numbers of their own (r2 may be b), then exchanged.
    mpz_t t1, t2;
    mpz_init(t1);
    mpz_init(t2);
    mul::mul_pair(mpz_limbs_write(t1, static_cast<mp_size_t>(a1n + bn)), mpz_limbs_read(a1), a1n,
                  mpz_limbs_write(t2, static_cast<mp_size_t>(a2n + bn)), mpz_limbs_read(a2), a2n, mpz_limbs_read(b),
                  bn, threads_here());
    finish_product(t1, a1n + bn, (mpz_sgn(a1) < 0) != (mpz_sgn(b) < 0));
    finish_product(t2, a2n + bn, (mpz_sgn(a2) < 0) != (mpz_sgn(b) < 0));
    mpz_swap(r1, t1);
    mpz_swap(r2, t2);
    mpz_clear(t1);
    mpz_clear(t2);
    if (between) between();
}

std::size_t out_str(std::FILE* stream, const mpf_t x, std::size_t count) {
    if (!engine_in_use()) return mpf_out_str(stream, 10, count, x);
    const std::string text = decimal::float_text(x, count, engine_threads);
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() ? text.size() : 0;
}

std::string float_text(const mpf_t x, std::size_t count) {
    return engine_in_use() ? decimal::float_text(x, count, engine_threads) : decimal::library_text(x, count);
}

std::string floor_digits(const mpf_t x, std::size_t decimals) {
    if (!engine_in_use()) return {};
    return decimal::floor_digits(x, decimals, engine_threads);
}

}  // namespace products
