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
#include "hex_text.h"
#include "memory.h"
#include "mul.h"
#include "options.h"
#include "output_check.h"
#include "products.h"
#include "run_clock.h"
#include "team.h"
#include "threads.h"
#include "verification.h"

static const char USAGE[] =
    "%s  #digits [algorithm] [output]\n"
    "\talgorithm=0, one squring and one squre root, subtraction version\n"
    "\t          1, one squring and one squre root, addition version\n"
    "\t          2, one multiplication and one squre root\n"
    "\t   output=0, no output\n"
    "\t          1, output to stdout\n";

static const char OPTIONS[] =
    "\t   --fast, products through the project's engine; --threads=N, with --fast: N threads\n"
    "\t   --out=FILE, 3. and the decimals of pi, truncated, to FILE\n"
    "\t   --hex, hexadecimal digits instead; --verify, the digits checked before they are written\n";

// The digits a run's value settles: "3." and `digits` decimals, or
// hexadecimal digits, truncated, from a2. Its error is a few units in the
// last of P bits; where even so the digits after the last one are a run that
// its bound leaves open, pi is computed again, quietly, with more digits, and
// left in a2. `released`: the run released all but a2 (and is told so once
// a2 is all there is). Empty where even that leaves the digits open.
static std::string settled_text(long long digits, bool hex, int algorithm, bool& released) {
    using namespace agm;
    const auto settle = [&](long long computed) {
        return hex ? settled_hex(a2, digits, trusted_bits(hex_precision_bits(computed)))
                   : settled_decimals(a2, digits, computed + 1);
    };
    std::string text = settle(digits);
    if (text.empty()) {
        if (released)
            mpf_clear(a2);
        else
            agm_release();
        released = true;
        const long long computed = digits + RETRY_EXTRA_DIGITS;
        agm_create(hex ? hex_precision_bits(computed) : precision_bits(computed));
        agm_setup();
        agm_loop(algorithm, false);
        agm_finish();
        agm_release_all_but_pi();
        text = settle(computed);
    }
    return text;
}

// The file of --out: the settled text, checked where asked and not yet
// checked, then written.
static bool write_out(const char* program, const char* path, DigitsFile& file, const std::string& text, bool hex,
                      Verification& verification, bool checked) {
    if (text.empty()) {
        std::fprintf(stderr, "%s: the digits of pi could not be settled for %s\n", program, path);
        return false;
    }
    return (checked || verification.truncated(text, hex ? 16 : 10, agm::a2)) && file.write(text);
}

int main(int argc, char** argv) {
    using namespace agm;
    Options options;
    if (!read_options(argv[0], argc, argv, &options)) return 1;
    if (print_help_or_version(argv[0], options, USAGE, OPTIONS)) return standard_output_complete(argv[0]) ? 0 : 1;
    if (options.checkpoint || options.resume) {
        // Every step of the iteration needs all its numbers at full
        // precision at once: there is no smaller state to keep.
        std::fprintf(stderr, "%s: --%s is bsplitpi's: the AGM's state is all its numbers at full precision\n",
                     argv[0], options.checkpoint ? "checkpoint" : "resume");
        return 1;
    }
    if (options.memory) {
        std::fprintf(stderr, "%s: --memory is bsplitpi's: the AGM keeps all its numbers in memory at once\n", argv[0]);
        return 1;
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
    if (!read_digit_count(argv[0], arg[0], options.hex ? MAX_HEX_DIGITS : MAX_FLOAT_DIGITS, &digits)) return 1;
    const int algorithm = arg.size() > 1 ? read_switch(argv[0], arg[1]) : 0;
    const int output = arg.size() > 2 ? read_switch(argv[0], arg[2]) : 0;
    const long prec = options.hex ? hex_precision_bits(digits) : precision_bits(digits);
    const long long decimals = options.hex ? decimal_equivalent(digits) : digits;
    // Where even the full-precision product is too short for the engine to
    // share, no product of the run would use a second thread: the run is a
    // one-thread run, and its report is one thread's. A float product reads
    // its operands' top prec + 1 limbs.
    int threads = options.threads > 0 ? options.threads : 1;
    if (threads > 1) {
        const auto limbs = static_cast<std::size_t>((agm_prec_for(prec) + 2 * GMP_NUMB_BITS - 1) / GMP_NUMB_BITS + 1);
        threads = threads_within(argv[0], mul::threads_for(limbs, limbs, threads), available_cores());
    }
    if (!memory_suffices(argv[0], digits, agmpi_peak_bytes(decimals, options.fast), machine_memory())) return 1;
    DigitsFile out;
    if (options.out && !out.open(argv[0], options.out, static_cast<unsigned long long>(digits) + 3)) return 1;
    exit_when_memory_runs_out(argv[0]);
    if (options.fast) products::use_engine(threads);
    Verification verification(options.verify, options.fast, threads);

    const RunTicks t0 = run_clock();
    agm_create(prec);
    agm_setup();
    const RunTicks t1 = run_clock();
    const int n = agm_loop(algorithm);
    const RunTicks t2 = run_clock();
    agm_finish();
    const RunTicks t3 = run_clock();
    bool verified = verification.value(a2, trusted_bits(prec));

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
    // The settled text of --hex's digit line and of --out, made once and
    // checked once.
    bool released = false, settled_checked = false;
    std::string settled;
    if (output != 0) {
        agm_release_all_but_pi();
        released = true;
        mul::release_kept_scratch();
        release_free_memory();
        if (options.hex) {
            // Hexadecimal digits: "3." and exactly those asked for.
            settled = settled_text(digits, true, algorithm, released);
            settled_checked = true;
            if (settled.empty())
                std::fprintf(stderr, "%s: the digits of pi could not be settled\n", argv[0]);
            else if ((verified = verified && verification.truncated(settled, 16, a2)))
                std::printf("%s\n", settled.c_str());
        } else if (verification.enabled() || options.out) {
            // The line's text in hand: checked, and where it settles the
            // file's decimals, one conversion serves both.
            const std::string text = products::float_text(a2, static_cast<size_t>(digits) + 2);
            if ((verified = verified && verification.digit_line(text, static_cast<size_t>(digits) + 2, a2)))
                std::printf("%s\n", text.c_str());
            if (options.out) settled = decimals_from_digit_line(text, digits);
        } else {
            products::out_str(stdout, a2, static_cast<size_t>(digits) + 2);
            std::printf("\n");
        }
    }
    // The checks' time is in no line of the report.
    const RunTicks t4 = run_clock();
    std::printf("Total time=%f\n", seconds(t4 - t0 - verification.spent()));
    const bool held = products::checks_held(argv[0]);
    bool written = !options.out;
    if (options.out && verified) {
        if (settled.empty()) settled = settled_text(digits, options.hex, algorithm, released);
        written = write_out(argv[0], options.out, out, settled, options.hex, verification, settled_checked);
    }
    const bool complete = standard_output_complete(argv[0]);
    if (options.out && written) print_file_summary(argv[0], options.out, out, settled);
    return complete && held && written && verified ? 0 : 1;
}
