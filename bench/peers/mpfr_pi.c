/* pi from MPFR's mpfr_const_pi, a peer for the comparison: one call at the
 * programs' precision, then its conversion to decimal, each timed.
 *   mpfr_pi DIGITS   prints "0.<digits + 4 significant digits>e1", then
 *                    "compute cpu=S wall=S" and "convert cpu=S wall=S". */
#include <mpfr.h>
#include <stdio.h>
#include <stdlib.h>

#include "peer_clock.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s DIGITS\n", argv[0]);
        return 1;
    }
    const long digits = atol(argv[1]);
    struct reading start = now();
    mpfr_t pi;
    mpfr_init2(pi, (mpfr_prec_t)(digits * 3.321928094887362 + 16));
    mpfr_const_pi(pi, MPFR_RNDN);
    struct reading computed = now();
    mpfr_exp_t exponent;
    char* text = mpfr_get_str(NULL, &exponent, 10, (size_t)digits + 4, pi, MPFR_RNDN);
    struct reading converted = now();
    printf("0.%se%ld\n", text, (long)exponent);
    print_phase("compute", start, computed);
    print_phase("convert", computed, converted);
    mpfr_free_str(text);
    mpfr_clear(pi);
    return 0;
}
