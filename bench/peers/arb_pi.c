/* pi from Arb's arb_const_pi, a peer for the comparison: one call at the
 * programs' precision on THREADS threads (0: every core), then its
 * conversion to decimal, each timed.
 *   arb_pi DIGITS [THREADS]   prints pi to digits + 4 significant digits,
 *                             then "compute cpu=S wall=S" and
 *                             "convert cpu=S wall=S". */
#include <arb.h>
#include <flint/flint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "peer_clock.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s DIGITS [THREADS]\n", argv[0]);
        return 1;
    }
    const long digits = atol(argv[1]);
    long threads = argc > 2 ? atol(argv[2]) : 1;
    if (threads <= 0) threads = sysconf(_SC_NPROCESSORS_ONLN);
    flint_set_num_threads((int)threads);
    struct reading start = now();
    arb_t pi;
    arb_init(pi);
    arb_const_pi(pi, (slong)(digits * 3.321928094887362 + 16));
    struct reading computed = now();
    char* text = arb_get_str(pi, digits + 4, ARB_STR_NO_RADIUS);
    struct reading converted = now();
    printf("%s\n", text);
    print_phase("compute", start, computed);
    print_phase("convert", computed, converted);
    flint_free(text);
    arb_clear(pi);
    flint_cleanup();
    return 0;
}
