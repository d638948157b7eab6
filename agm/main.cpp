// agmpi: pi to a requested number of decimal digits by the AGM iteration,
// with a timing report of its phases and, on request, the digits. With
// --fast every long product goes through the project's engine, on
// --threads=N threads; the values stay those of the library's products.

#include <gmp.h>

#include <cstdio>

#include "agm.h"
#include "arguments.h"
#include "digits.h"
#include "memory.h"
#include "mul.h"
#include "options.h"
#include "output_check.h"
#include "products.h"
#include "run_clock.h"

static const char USAGE[] =
    "%s  #digits [algorithm] [output]\n"
    "\talgorithm=0, one squring and one squre root, subtraction version\n"
    "\t          1, one squring and one squre root, addition version\n"
    "\t          2, one multiplication and one squre root\n"
    "\t   output=0, no output\n"
    "\t          1, output to stdout\n";

static const char OPTIONS[] =
    "\t   --fast, every long product through the project's multiplication engine\n"
    "\t   --threads=N, with --fast: N threads in each long product (0, every core)\n";

int main(int argc, char** argv) {
    using namespace agm;
    Options options;
    if (!read_options(argv[0], argc, argv, &options)) return 1;
    if (options.help) {
        std::printf(USAGE, argv[0]);
        std::printf("%s", OPTIONS);
        return 0;
    }
    if (options.version) {
        print_version(argv[0]);
        return 0;
    }
    if (options.positional.empty()) {
        std::printf(USAGE, argv[0]);
        return 1;
    }
    if (options.threads > 0 && !options.fast) {
        std::fprintf(stderr, "%s: --threads needs --fast: the threads work inside the engine's products\n", argv[0]);
        return 1;
    }
    const std::vector<const char*>& arg = options.positional;
    long long digits;
    if (!read_digit_count(argv[0], arg[0], MAX_FLOAT_DIGITS, &digits)) return 1;
    const int algorithm = arg.size() > 1 ? read_switch(arg[1]) : 0;
    const int output = arg.size() > 2 ? read_switch(arg[2]) : 0;
    const int threads = options.threads > 0 ? options.threads : 1;
    const long prec = precision_bits(digits);
    if (!memory_suffices(argv[0], digits, agmpi_peak_bytes(digits, options.fast), machine_memory())) return 1;
    exit_when_memory_runs_out(argv[0]);
    if (options.fast) products::use_engine(threads);
    run_clock_is_wall() = threads > 1;

    const long long t0 = run_clock();
    agm_create(prec);
    agm_setup();
    const long long t1 = run_clock();
    const int n = agm_loop(algorithm);
    const long long t2 = run_clock();
    agm_finish();
    const long long t3 = run_clock();

    const auto seconds = run_clock_seconds;
    std::printf("Done\n");
    if (threads > 1) std::printf("Wall-clock times, %d threads\n", threads);
    std::printf("Computation time=%f\n", seconds(t3 - t0));
    std::printf("\tInitialization time=%f\n", seconds(t1 - t0));
    std::printf("\t%d iterations' time=%f (avg=%f)\n", n, seconds(t2 - t1), seconds(t2 - t1) / n);
    for (int i = 0; i < 4; ++i)
        std::printf("\t\tStep %d time=%f (avg=%f)\n", i, seconds(T[i]), seconds(T[i]) / n);
    std::printf("\tFinal division time=%f\n", seconds(FD));
    if (output != 0) {
        agm_release_all_but_pi();
        mul::release_kept_scratch();
        release_free_memory();
        mpf_out_str(stdout, 10, static_cast<size_t>(digits) + 2, a2);
        std::printf("\n");
    }
    const long long t4 = run_clock();
    std::printf("Total time=%f\n", seconds(t4 - t0));
    const bool held = products::checks_held(argv[0]);
    return standard_output_complete(argv[0]) && held ? 0 : 1;
}
