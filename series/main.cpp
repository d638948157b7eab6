// bsplitpi: pi to a requested number of decimal digits from the Chudnovsky
// series, summed exactly by binary splitting, with a timing report of its
// phases and, on request, the digits and the splitting's trace. With more
// than one thread the splitting's top levels, the square root and the
// division's reciprocal run side by side; the values stay those of one thread.

#include <gmp.h>
#include <sys/statvfs.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "arguments.h"
#include "checkpoints.h"
#include "digits.h"
#include "digits_file.h"
#include "hex_text.h"
#include "memory.h"
#include "mul.h"
#include "newton.h"
#include "options.h"
#include "output_check.h"
#include "parallel_split.h"
#include "products.h"
#include "progress.h"
#include "run_clock.h"
#include "team.h"
#include "split.h"
#include "terms.h"
#include "threads.h"
#include "unfinished_file.h"
#include "verification.h"

static const char USAGE[] =
    "%s  #digits [output]\n"
    "    output=0, no output\n"
    "           1, output to screen\n"
    "    [threads]=1, one thread; 0, every core; N, N threads\n";

static const char OPTIONS[] =
    "    --fast, products through the project's engine; --threads=N, as [threads]\n"
    "    --out=FILE, 3. and the decimals of pi, truncated, to FILE\n"
    "    --hex, hexadecimal digits instead; --verify, the digits checked before they are written\n"
    "    --checkpoint=DIR, the run's state kept in DIR as it goes; --resume=DIR, a stopped run taken up\n"
    "    --memory=SIZE, a run whose estimated peak is above SIZE (such as 512M or 4G) refused\n";

// Below this many digits a second thread costs more than it saves (starting
// it against splitting a few thousand terms): a run asking for threads runs
// on one, and its report is one thread's.
constexpr long long THREADED_FROM_DIGITS = 100000;

namespace {

// A run's numbers and the clock readings t[0..5] that bound its phases.
struct Run {
    long long digits;  // decimal digits, or hexadecimal ones where hex
    bool hex;
    long long decimals;  // the decimal count whose precision covers them
    long n;
    int threads;
    mpz_t p, q, g;
    mpf_t num, den;
    RunTicks t[6];
};

// The root of a one-thread splitting: the halves, their freed memory handed
// back, then the leanest combination, since the root's sets the run's peak;
// its first step's result kept as a state where checkpoints are.
void split_root(Run& run) {
    using namespace series;
    const auto n = static_cast<unsigned long>(run.n), m = n / 2;
    mpz_t p2, q2, g2;
    mpz_init(p2);
    mpz_init(q2);
    mpz_init(g2);
    if (join_taken_up(run.p, run.q, p2, q2)) {
        mpz_clear(g2);
    } else {
        split_series(run.p, run.q, run.g, 0, m, 1);
        split_series(p2, q2, g2, m, n, 0);
        release_free_memory();
        scale_right_half(q2, run.g, g2, 0);
        join_done(run.p, run.q, p2, q2);
    }
    join_scaled_halves(run.p, run.q, p2, q2, true);
    progress_combined(n);
}

// p, q, g for terms 1 to n, and beside() done too.
void split(Run& run, series::BesideTask beside) {
    using namespace series;
    mpz_init(run.p);
    mpz_init(run.q);
    mpz_init(run.g);
    if (run.n == 0) {
        mpz_set_ui(run.p, 1);
        mpz_set_ui(run.q, 0);
        mpz_set_ui(run.g, 1);
        if (beside) beside();
        return;
    }
    if (split_taken_up(run.p, run.q)) {
        progress_taken_up(static_cast<unsigned long>(run.n));
        if (beside) beside();
        return;
    }
    if (output & 2) {
        // The trace keeps one thread's order: the splitting stays in one.
        const auto whole = [&run] {
            split_series(run.p, run.q, run.g, 0, static_cast<unsigned long>(run.n), 0);
        };
        if (beside)
            mul::run_both(beside, whole);
        else
            whole();
    } else if (run.threads == 1 && run.n > 1) {
        split_root(run);
    } else {
        split_series_parallel(run.p, run.q, run.g, 0, static_cast<unsigned long>(run.n), 0,
                              run.threads, beside);
    }
    split_done(run.p, run.q);
}

// Adds term 0 and scales; then pi = num sqrt(640320) / den.
void to_float(Run& run) {
    mpz_addmul_ui(run.q, run.p, 13591409);
    mpz_mul_ui(run.p, run.p, 53360);
    mpf_set_z(run.num, run.p);
    mpf_set_z(run.den, run.q);
    // Scale both by 2^-bits(q): den lands in [1/2, 1), where the divisor's
    // double seed is well within range however long q is.
    mpf_div_2exp(run.num, run.num, mpz_sizeinbase(run.q, 2));
    mpf_div_2exp(run.den, run.den, mpz_sizeinbase(run.q, 2));
    // The integers are spent; at the final steps' peak their limbs would
    // weigh as much again as the floats.
    mpz_clear(run.p);
    mpz_clear(run.q);
    mpz_clear(run.g);
}

// Both pieces of work, side by side with threads, else one after the other.
template <class First, class Second>
void side_by_side(bool threaded, First first, Second second) {
    if (threaded) {
        mul::run_both(first, second);
    } else {
        first();
        second();
    }
}

// The run's precision: its digits' and 16 bits more, or for hexadecimal
// digits 4 bits each and 32 more.
long run_precision(const Run& run) { return run.hex ? hex_precision_bits(run.digits) : precision_bits(run.digits); }

// Where the run's checkpoints hold pi itself: the numbers the steps would
// have left, pi among them, and every phase empty; true. False where they
// do not hold it.
bool pi_taken_up_whole(Run& run, mp_bitcnt_t prec) {
    mpf_set_default_prec(prec);
    mpf_init(run.num);
    if (!series::pi_taken_up(run.num)) {
        mpf_clear(run.num);
        return false;
    }
    mpf_init(run.den);
    series::newton_create_scratch();
    for (int i = 1; i < 6; ++i) run.t[i] = run_clock();
    return true;
}

// The run's steps, in order. With threads the work and the values are the
// same, and two steps move beside others: the square root needs nothing from
// the series, so it runs beside the splitting's last combination and its line
// is only the wait for it afterwards; the divisor's reciprocal runs beside the
// multiplication, whose line ends when the product is done. The scratch
// numbers are used by one thread at a time: by the root until the splitting
// returns, then r and t by the reciprocal while the product reads u.
void compute(Run& run) {
    using namespace series;
    const bool threaded = run.threads > 1;
    const auto prec = static_cast<mp_bitcnt_t>(run_precision(run));
    const auto root = [] {
        newton_create_scratch();
        if (root_taken_up(u)) return;
        newton_sqrt_ui(u, 640320);
        root_done(u);
    };
    run.t[0] = run_clock();
    if (checkpoints_on() && pi_taken_up_whole(run, prec)) return;
    if (threaded) mpf_set_default_prec(prec);  // for the root beside the splitting
    split(run, threaded ? +root : nullptr);
    run.t[1] = run_clock();
    progress_step("integer to float");
    mpf_set_default_prec(prec);
    mpf_init(run.num);
    mpf_init(run.den);
    if (!threaded) newton_create_scratch();
    to_float(run);
    run.t[2] = run_clock();
    if (!threaded && !root_taken_up(u)) {
        progress_step("final square root");
        newton_sqrt_ui(u, 640320);
        root_done(u);
    }
    run.t[3] = run_clock();
    progress_step(threaded ? "final multiplication and division" : "final multiplication");
    const long wp = static_cast<long>(mpf_get_prec(run.num));
    // The engine's products use every thread themselves: one at a time.
    side_by_side(
        threaded && !products::engine_in_use(),
        [&] {
            products::mul(run.num, run.num, u);
            run.t[4] = run_clock();
            progress_step("final division");
        },
        [&] { newton_reciprocal(run.den, wp); });
    newton_quot_finish(run.num, run.num, run.den, wp);
    run.t[5] = run_clock();
    pi_done(run.num);
}

// Releases every number but pi, which the printing alone needs: its own
// scratch is several times pi's size.
void release_all_but_pi(Run& run) {
    mpf_clear(run.den);
    series::newton_release_scratch();
    mul::release_kept_scratch();
    release_free_memory();
}

// The settled text of a run ("3." and its digits, truncated), made once and
// checked once where asked.
struct Settled {
    bool made = false, passed = false;
    std::string text;
};

// From pi as the run left it in num. Its error is a few units in the last of
// the run's precision, far below a unit of the last digit; where even so the
// digits after the last one are a run of 0s or 9s (of 0s or fs) that the
// bound leaves open, pi is computed again, quietly (no trace, no progress),
// with more digits, and the text checked against that value.
void settle(const char* program, const Run& run, Settled& s, Verification& verification) {
    if (s.made) return;
    s.made = true;
    const auto settled = [&](const mpf_t x, long long computed, long prec) {
        return run.hex ? settled_hex(x, run.digits, trusted_bits(prec)) : settled_decimals(x, run.digits, computed + 1);
    };
    s.text = settled(run.num, run.digits, run_precision(run));
    if (!s.text.empty()) {
        s.passed = verification.truncated(s.text, run.hex ? 16 : 10, run.num);
        return;
    }
    Run again;
    again.digits = run.digits + RETRY_EXTRA_DIGITS;
    again.hex = run.hex;
    again.decimals = run.hex ? decimal_equivalent(again.digits) : again.digits;
    again.threads = run.threads;
    again.n = series::series_terms(again.decimals);
    const int trace = series::output;
    series::output = 0;
    const series::CheckpointsPaused not_the_run;
    compute(again);
    series::output = trace;
    release_all_but_pi(again);
    s.text = settled(again.num, again.digits, run_precision(again));
    if (s.text.empty())
        std::fprintf(stderr, "%s: the digits of pi could not be settled\n", program);
    else
        s.passed = verification.truncated(s.text, run.hex ? 16 : 10, again.num);
    mpf_clear(again.num);
}

// The report; the digit line only where it passed its check. False where it
// did not. file_too: --out's decimals are settled from the digit line where
// it settles them.
bool report(const char* program, const Run& run, int output, bool file_too, Settled& settled,
            Verification& verification) {
    bool printed = true;
    if (output & 1) {
        std::string text;
        if (run.hex) {
            settle(program, run, settled, verification);
            printed = settled.passed;
            text = settled.text;
        } else if (verification.enabled() || file_too) {
            // The line's text in hand: checked, and where it settles the
            // file's decimals, one conversion serves both.
            text = products::float_text(run.num, static_cast<size_t>(run.digits) + 2);
            printed = verification.digit_line(text, static_cast<size_t>(run.digits) + 2, run.num);
            if (file_too) {
                settled.text = decimals_from_digit_line(text, run.digits);
                settled.made = !settled.text.empty();
                settled.passed = settled.made && verification.truncated(settled.text, 10, run.num);
            }
        }
        if (printed) {
            std::printf("pi(%d,%ld)=\n", 0, run.n);
            if (run.hex || verification.enabled() || file_too)
                std::printf("%s\n", text.c_str());
            else {
                products::out_str(stdout, run.num, static_cast<size_t>(run.digits) + 2);
                std::printf("\n");
            }
        }
    }
    // Times are wall-clock where the run had more than one thread.
    const int had = mul::most_threads_at_work();
    run_clock_is_wall() = had > 1;
    if (had > 1) std::printf("Wall-clock times, %d threads\n", had);
    const RunTicks* t = run.t;
    const auto seconds = run_clock_seconds;
    std::printf("Binary splitting     time=%f\n", seconds(t[1] - t[0]));
    std::printf("Integer to float     time=%f\n", seconds(t[2] - t[1]));
    std::printf("Final square root    time=%f\n", seconds(t[3] - t[2]));
    std::printf("Final multiplication time=%f\n", seconds(t[4] - t[3]));
    std::printf("Final division       time=%f\n", seconds(t[5] - t[4]));
    std::printf("Total                time=%f\n", seconds(t[5] - t[0]));
    return printed;
}

// The command that takes a stopped run up: this one, its --checkpoint
// turned into --resume, each word quoted for a shell where it needs it.
std::string resume_command(int argc, char** argv, const char* dir) {
    std::string command;
    bool resumed = false;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i];
        if (word.compare(0, 13, "--checkpoint=") == 0 || word.compare(0, 9, "--resume=") == 0) {
            word = std::string("--resume=") + dir;
            resumed = true;
        }
        if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=./,:@%") !=
            std::string::npos) {
            std::string quoted = "'";
            for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            word = quoted + "'";
        }
        command += (i ? " " : "") + word;
    }
    return resumed ? command : command + " --resume=" + dir;
}

// --checkpoint or --resume: the directory checked (and, resumed, its states)
// before any work, room asked for the states (at most those of about two
// levels of the splitting and the final numbers, under 2 bytes a digit),
// and the line that says how to resume set for an early end.
bool start_checkpoints(const char* program, int argc, char** argv, const Options& options, const Run& run) {
    const char* dir = options.checkpoint ? options.checkpoint : options.resume;
    if (options.checkpoint && options.resume) {
        std::fprintf(stderr, "%s: --checkpoint and --resume given together: --resume=DIR keeps checkpoints too\n",
                     program);
        return false;
    }
    if (series::output & 2) {
        std::fprintf(stderr, "%s: the trace (output 2) is not kept in checkpoints: no --%s with it\n", program,
                     options.checkpoint ? "checkpoint" : "resume");
        return false;
    }
    char line[160];
    std::snprintf(line, sizeof line, "bsplitpi %s digits=%lld output=%d out=%d", run.hex ? "hex" : "decimal",
                  run.digits, series::output, options.out ? 1 : 0);
    series::CheckpointRun checkpoints{program, dir, options.resume != nullptr, line,
                                      static_cast<unsigned long>(run.n)};
    if (!series::checkpoints_start(checkpoints)) return false;
    struct statvfs room;
    const double needed = 2.0 * static_cast<double>(run.decimals) + (1 << 20);
    if (statvfs(dir, &room) == 0 && static_cast<double>(room.f_bavail) * static_cast<double>(room.f_frsize) < needed) {
        std::fprintf(stderr, "%s: %s has %.0f MB free; the checkpoints need about %.0f MB\n", program, dir,
                     static_cast<double>(room.f_bavail) * static_cast<double>(room.f_frsize) / 1e6, needed / 1e6);
        return false;
    }
    const std::string resume = std::string(program) + ": stopped; `" + resume_command(argc, argv, dir) +
                               "` goes on from the last checkpoint\n";
    set_resume_line(resume.c_str());
    remove_unfinished_file_on_signals();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace series;
    Options options;
    if (!read_options(argv[0], argc, argv, &options)) return 1;
    if (print_help_or_version(argv[0], options, USAGE, OPTIONS)) return standard_output_complete(argv[0]) ? 0 : 1;
    const std::vector<const char*>& arg = options.positional;
    if (arg.empty()) {
        std::printf(USAGE, argv[0]);
        return 1;
    }
    Run run;
    run.hex = options.hex;
    const long long most = run.hex ? series_max_digits() * 10 / 12 : series_max_digits();  // 16^k > 10^(1.2 k)
    if (!read_digit_count(argv[0], arg[0], most, &run.digits)) return 1;
    run.decimals = run.hex ? decimal_equivalent(run.digits) : run.digits;
    output = arg.size() > 1 ? read_switch(argv[0], arg[1]) : 0;
    run.threads = 1;
    if (arg.size() > 2 && !read_thread_count(argv[0], "threads", arg[2], &run.threads)) return 1;
    if (options.threads > 0) {
        if (arg.size() > 2) {
            std::fprintf(stderr, "%s: threads given twice, \"%s\" and --threads\n", argv[0], arg[2]);
            return 1;
        }
        run.threads = options.threads;
    }
    if (run.digits < THREADED_FROM_DIGITS) run.threads = 1;
    if (run.threads > 1) run.threads = threads_within(argv[0], run.threads, available_cores());
    run.n = series_terms(run.decimals);
    const double peak = series_peak_bytes(run.decimals, run.threads, options.fast);
    MachineMemory machine = machine_memory();
    const std::string budget_option = options.memory ? std::string("--memory=") + options.memory : "";
    machine.budget = options.memory_bytes;
    machine.budget_option = budget_option.c_str();
    if (!memory_suffices(argv[0], run.digits, peak, machine)) return 1;
    DigitsFile out;
    if (options.out && !out.open(argv[0], options.out, static_cast<unsigned long long>(run.digits) + 3)) return 1;
    if ((options.checkpoint || options.resume) && !start_checkpoints(argv[0], argc, argv, options, run)) return 1;
    exit_when_memory_runs_out(argv[0]);
    if (run.threads == 1) reuse_freed_memory();
    if (options.fast) products::use_engine(run.threads);
    Verification verification(options.verify, options.fast, run.threads);

    // The trace goes to standard output during the splitting, as often as
    // not to the same terminal: no progress line across it.
    if (!(output & 2)) progress_start(argv[0], static_cast<unsigned long>(run.n));
    compute(run);
    progress_stop();
    release_all_but_pi(run);
    bool verified = verification.value(run.num, trusted_bits(run_precision(run)));
    Settled settled;
    verified = report(argv[0], run, verified ? output : 0, options.out != nullptr, settled, verification) && verified;

    bool written = !options.out;
    if (options.out && verified) {
        settle(argv[0], run, settled, verification);
        written = settled.passed && out.write(settled.text);
    }
    mpf_clear(run.num);
    const bool held = products::checks_held(argv[0]);
    const bool complete = standard_output_complete(argv[0]);
    if (options.out && written) print_file_summary(argv[0], options.out, out, settled.text);
    const bool succeeded = complete && held && written && verified;
    set_resume_line(nullptr);
    checkpoints_end(succeeded);
    return succeeded ? 0 : 1;
}
