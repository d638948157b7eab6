// agmpi: pi to a requested number of decimal digits by the AGM iteration,
// with a timing report of its phases and, on request, the digits. With
// --fast every long product goes through the project's engine, on
// --threads=N threads; the values stay those of the library's products.

#include <gmp.h>

#include <cstdio>
#include <string>

#include "agm.h"
#include "arguments.h"
#include "digits.h"
#include "digits_file.h"
#include "memory.h"
#include "mul.h"
#include "options.h"
#include "output_check.h"
#include "products.h"
#include "run_clock.h"
#include "team.h"
#include "threads.h"

static const char USAGE[] =
    "%s  #digits [algorithm] [output]\n"
    "\talgorithm=0, one squring and one squre root, subtraction version\n"
    "\t          1, one squring and one squre root, addition version\n"
    "\t          2, one multiplication and one squre root\n"
    "\t   output=0, no output\n"
    "\t          1, output to stdout\n";

static const char OPTIONS[] =
    "\t   --fast, products through the project's engine; --threads=N, with --fast: N threads\n"
    "\t   --out=FILE, 3. and the decimals of pi, truncated, to FILE\n";

// The file of --out, from pi as the run left it in a2. Its error is a few
// units in the last of P = digits log2 10 + 16 bits, far below
// 10^-(digits + 1); where even so the decimals after the last one are a run
// of 0s or 9s that the bound leaves open, pi is computed again, quietly,
// with more digits. `released`: the run released all but a2.
static bool write_out(const char* program, const char* path, DigitsFile& file, long long digits, int algorithm,
                      bool released) {
    using namespace agm;
    std::string text = settled_decimals(a2, digits, digits + 1);
    if (text.empty()) {
        if (released)
            mpf_clear(a2);
        else
            agm_release();
        agm_create(precision_bits(digits + RETRY_EXTRA_DIGITS));
        agm_setup();
        agm_loop(algorithm, false);
        agm_finish();
        text = settled_decimals(a2, digits, digits + RETRY_EXTRA_DIGITS + 1);
    }
    if (text.empty()) {
        std::fprintf(stderr, "%s: the decimals of pi could not be settled for %s\n", program, path);
        return false;
    }
    return file.write(text);
}

int main(int argc, char** argv) {
    using namespace agm;
    Options options;
    if (!read_options(argv[0], argc, argv, &options)) return 1;
    if (print_help_or_version(argv[0], options, USAGE, OPTIONS)) return standard_output_complete(argv[0]) ? 0 : 1;
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
    const int algorithm = arg.size() > 1 ? read_switch(argv[0], arg[1]) : 0;
    const int output = arg.size() > 2 ? read_switch(argv[0], arg[2]) : 0;
    const long prec = precision_bits(digits);
    // Where even the full-precision product is too short for the engine to
    // share, no product of the run would use a second thread: the run is a
    // one-thread run, and its report is one thread's. A float product reads
    // its operands' top prec + 1 limbs.
    int threads = options.threads > 0 ? options.threads : 1;
    if (threads > 1) {
        const auto limbs = static_cast<std::size_t>((agm_prec_for(prec) + 2 * GMP_NUMB_BITS - 1) / GMP_NUMB_BITS + 1);
        threads = threads_within(argv[0], mul::threads_for(limbs, limbs, threads), available_cores());
    }
    if (!memory_suffices(argv[0], digits, agmpi_peak_bytes(digits, options.fast), machine_memory())) return 1;
    DigitsFile out;
    if (options.out && !out.open(argv[0], options.out, static_cast<unsigned long long>(digits) + 3)) return 1;
    exit_when_memory_runs_out(argv[0]);
    if (options.fast) products::use_engine(threads);

    const RunTicks t0 = run_clock();
    agm_create(prec);
    agm_setup();
    const RunTicks t1 = run_clock();
    const int n = agm_loop(algorithm);
    const RunTicks t2 = run_clock();
    agm_finish();
    const RunTicks t3 = run_clock();

    // Times are wall-clock where the run had more than one thread.
    const int had = mul::most_threads_at_work();
    run_clock_is_wall() = had > 1;
    const auto seconds = run_clock_seconds;
    std::printf("Done\n");
    if (had > 1) std::printf("Wall-clock times, %d threads\n", had);
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
        products::out_str(stdout, a2, static_cast<size_t>(digits) + 2);
        std::printf("\n");
    }
    const RunTicks t4 = run_clock();
    std::printf("Total time=%f\n", seconds(t4 - t0));
    const bool held = products::checks_held(argv[0]);
    const bool written = !options.out || write_out(argv[0], options.out, out, digits, algorithm, output != 0);
    return standard_output_complete(argv[0]) && held && written ? 0 : 1;
}
