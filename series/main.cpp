// bsplitpi: pi to a requested number of decimal digits from the Chudnovsky
// series, summed exactly by binary splitting, with a timing report of its
// phases and, on request, the digits and the splitting's trace.

#include <gmp.h>

#include <cstdio>
#include <ctime>

#include "arguments.h"
#include "newton.h"
#include "precision.h"
#include "split.h"
#include "terms.h"

static const char USAGE[] =
    "%s  #digits [output]\n"
    "    output=0, no output\n"
    "           1, output to screen\n";

static double seconds(clock_t ticks) { return static_cast<double>(ticks) / CLOCKS_PER_SEC; }

int main(int argc, char** argv) {
    using namespace series;
    if (argc < 2) {
        std::printf(USAGE, argv[0]);
        return 1;
    }
    int digits;
    if (!read_digit_count(argv[0], argv[1], &digits)) return 1;
    output = argc > 2 ? read_switch(argv[2]) : 0;
    const int n = series_terms(digits);

    const clock_t t0 = clock();
    mpz_t p, q, g;
    mpz_init(p);
    mpz_init(q);
    mpz_init(g);
    if (n > 0) {
        split_series(p, q, g, 0, static_cast<unsigned long>(n), 0);
    } else {
        mpz_set_ui(p, 1);
        mpz_set_ui(q, 0);
        mpz_set_ui(g, 1);
    }
    const clock_t t1 = clock();

    mpf_set_default_prec(static_cast<mp_bitcnt_t>(precision_bits(digits)));
    mpf_t num, den;
    mpf_init(num);
    mpf_init(den);
    newton_create_scratch();
    // Add term 0; then pi = 53360 sqrt(640320) p / q.
    mpz_addmul_ui(q, p, 13591409);
    mpz_mul_ui(p, p, 53360);
    mpf_set_z(num, p);
    mpf_set_z(den, q);
    // Scale both by 2^-bits(q): den lands in [1/2, 1), where the divisor's
    // double seed is well within range however long q is.
    mpf_div_2exp(num, num, mpz_sizeinbase(q, 2));
    mpf_div_2exp(den, den, mpz_sizeinbase(q, 2));
    const clock_t t2 = clock();
    newton_sqrt_ui(u, 640320);
    const clock_t t3 = clock();
    mpf_mul(num, num, u);
    const clock_t t4 = clock();
    newton_quot(num, num, den);
    const clock_t t5 = clock();

    if (output & 1) {
        std::printf("pi(%d,%d)=\n", 0, n);
        mpf_out_str(stdout, 10, static_cast<size_t>(digits) + 2, num);
        std::printf("\n");
    }
    std::printf("Binary splitting     time=%f\n", seconds(t1 - t0));
    std::printf("Integer to float     time=%f\n", seconds(t2 - t1));
    std::printf("Final square root    time=%f\n", seconds(t3 - t2));
    std::printf("Final multiplication time=%f\n", seconds(t4 - t3));
    std::printf("Final division       time=%f\n", seconds(t5 - t4));
    std::printf("Total                time=%f\n", seconds(t5 - t0));

    mpz_clear(p);
    mpz_clear(q);
    mpz_clear(g);
    mpf_clear(num);
    mpf_clear(den);
    return 0;
}
