// agmpi: pi to a requested number of decimal digits by the AGM iteration,
// with a timing report of its phases and, on request, the digits.

#include <gmp.h>

#include <cstdio>
#include <ctime>

#include "agm.h"
#include "arguments.h"
#include "digits.h"
#include "memory.h"
#include "output_check.h"

static const char USAGE[] =
    "%s  #digits [algorithm] [output]\n"
    "\talgorithm=0, one squring and one squre root, subtraction version\n"
    "\t          1, one squring and one squre root, addition version\n"
    "\t          2, one multiplication and one squre root\n"
    "\t   output=0, no output\n"
    "\t          1, output to stdout\n";

static double seconds(clock_t ticks) { return static_cast<double>(ticks) / CLOCKS_PER_SEC; }

int main(int argc, char** argv) {
    using namespace agm;
    if (argc < 2) {
        std::printf(USAGE, argv[0]);
        return 1;
    }
    long long digits;
    if (!read_digit_count(argv[0], argv[1], MAX_FLOAT_DIGITS, &digits)) return 1;
    const int algorithm = argc > 2 ? read_switch(argv[2]) : 0;
    const int output = argc > 3 ? read_switch(argv[3]) : 0;
    const long prec = precision_bits(digits);
    if (!memory_suffices(argv[0], digits, agmpi_peak_bytes(digits), machine_memory())) return 1;
    exit_when_memory_runs_out(argv[0]);

    const clock_t t0 = clock();
    agm_create(prec);
    agm_setup();
    const clock_t t1 = clock();
    const int n = agm_loop(algorithm);
    const clock_t t2 = clock();
    agm_finish();
    const clock_t t3 = clock();

    std::printf("Done\n");
    std::printf("Computation time=%f\n", seconds(t3 - t0));
    std::printf("\tInitialization time=%f\n", seconds(t1 - t0));
    std::printf("\t%d iterations' time=%f (avg=%f)\n", n, seconds(t2 - t1), seconds(t2 - t1) / n);
    for (int i = 0; i < 4; ++i)
        std::printf("\t\tStep %d time=%f (avg=%f)\n", i, seconds(T[i]), seconds(T[i]) / n);
    std::printf("\tFinal division time=%f\n", seconds(FD));
    if (output != 0) {
        agm_release_all_but_pi();
        release_free_memory();
        mpf_out_str(stdout, 10, static_cast<size_t>(digits) + 2, a2);
        std::printf("\n");
    }
    const clock_t t4 = clock();
    std::printf("Total time=%f\n", seconds(t4 - t0));
    return standard_output_complete(argv[0]) ? 0 : 1;
}
