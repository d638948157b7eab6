// agmpi as a user runs it: whole reports with the timing figures masked, the
// digits against true pi, exit statuses, and bad input.

#include <gmp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

#include "pi_reference.h"
#include "arguments.h"
#include "digits.h"
#include "fatal_line.h"
#include "memory.h"
#include "run_program.h"

static const std::string AGMPI = AGMPI_PATH;

static std::string report(int iterations) {
    return std::string(static_cast<size_t>(iterations), '.') +
           "Done\n"
           "Computation time=#\n"
           "\tInitialization time=#\n"
           "\t" + std::to_string(iterations) + " iterations' time=# (avg=#)\n"
           "\t\tStep 0 time=# (avg=#)\n"
           "\t\tStep 1 time=# (avg=#)\n"
           "\t\tStep 2 time=# (avg=#)\n"
           "\t\tStep 3 time=# (avg=#)\n"
           "\tFinal division time=#\n";
}

TEST(AgmpiCli, NoArgumentPrintsUsageAndFails) {
    const ProgramRun run = run_program(AGMPI, {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, AGMPI +
                           "  #digits [algorithm] [output]\n"
                           "\talgorithm=0, one squring and one squre root, subtraction version\n"
                           "\t          1, one squring and one squre root, addition version\n"
                           "\t          2, one multiplication and one squre root\n"
                           "\t   output=0, no output\n"
                           "\t          1, output to stdout\n");
    EXPECT_EQ(run.err, "");
}

TEST(AgmpiCli, ThousandDigitsReportAndDigits) {
    const ProgramRun run = run_program(AGMPI, {"1000", "0", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string masked = mask_times(run.out);
    const std::string head = report(10);
    ASSERT_EQ(masked.substr(0, head.size()), head);
    const auto digits_end = masked.find('\n', head.size());
    ASSERT_NE(digits_end, std::string::npos);
    EXPECT_EQ(masked.substr(digits_end), "\nTotal time=#\n");
    EXPECT_EQ(check_pi_line(masked.substr(head.size(), digits_end - head.size()), 1000), "");
    EXPECT_EQ(run.err, "");
}

TEST(AgmpiCli, SmallestCountsPrintTwoAndThirteenDigits) {
    // 0 digits: P = 16, doubles only; 11 digits: the last count in doubles.
    const ProgramRun zero = run_program(AGMPI, {"0", "0", "1"});
    EXPECT_EQ(zero.status, 0);
    EXPECT_EQ(mask_times(zero.out), report(3) + "0.31e1\nTotal time=#\n");
    const ProgramRun eleven = run_program(AGMPI, {"11", "1", "1"});
    EXPECT_EQ(mask_times(eleven.out), report(4) + "0.314159265359e1\nTotal time=#\n");
    const ProgramRun twelve = run_program(AGMPI, {"12", "2", "1"});
    EXPECT_EQ(mask_times(twelve.out), report(4) + "0.31415926535898e1\nTotal time=#\n");
}

TEST(AgmpiCli, DefaultsPrintNoDigits) {
    // No algorithm and no output switch; further arguments are ignored.
    for (const auto& args : {std::vector<std::string>{"100"},
                             std::vector<std::string>{"100", "0"},
                             std::vector<std::string>{"100", "7", "0", "extra", "words"}}) {
        const ProgramRun run = run_program(AGMPI, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(mask_times(run.out), report(7) + "Total time=#\n");
    }
}

TEST(AgmpiCli, EveryAlgorithmValuePrintsRightDigits) {
    for (const char* algorithm : {"0", "1", "2", "5", "-1", "x", "99999999999999999999"}) {
        const ProgramRun run = run_program(AGMPI, {"300", algorithm, "1"});
        ASSERT_EQ(run.status, 0) << algorithm;
        const std::string head = report(8);
        const std::string masked = mask_times(run.out);
        ASSERT_EQ(masked.substr(0, head.size()), head) << algorithm;
        const auto line_end = masked.find('\n', head.size());
        EXPECT_EQ(check_pi_line(masked.substr(head.size(), line_end - head.size()), 300), "")
            << algorithm;
    }
}

TEST(AgmpiCli, NumbersReadAsAtoiReadsThem) {
    // "12abc" is 12 digits, "abc" is 0, " +5" is 5.
    EXPECT_EQ(mask_times(run_program(AGMPI, {"12abc", "0", "1"}).out),
              report(4) + "0.31415926535898e1\nTotal time=#\n");
    EXPECT_EQ(mask_times(run_program(AGMPI, {"abc", "0", "1"}).out),
              report(3) + "0.31e1\nTotal time=#\n");
    EXPECT_EQ(mask_times(run_program(AGMPI, {" +5", "0", "1y"}).out),
              report(4) + "0.3141593e1\nTotal time=#\n");
}

TEST(AgmpiCli, DigitCountOutOfRangeIsRefused) {
    // Counts are 64-bit: beyond an int's range and the old limit of
    // 323,228,490 they read as themselves.
    long long digits = 0;
    EXPECT_TRUE(read_digit_count("agmpi", "323228491", MAX_FLOAT_DIGITS, &digits));
    EXPECT_EQ(digits, 323228491);
    EXPECT_TRUE(read_digit_count("agmpi", "4294967297", MAX_FLOAT_DIGITS, &digits));
    EXPECT_EQ(digits, 4294967297);

    const std::string too_many = std::to_string(MAX_FLOAT_DIGITS + 1);
    for (const std::string& count : {std::string("-1"), std::string("-2147483648"), too_many,
                                     std::string("99999999999999999999"),
                                     std::string("-99999999999999999999")}) {
        const ProgramRun run = run_program(AGMPI, {count, "0", "1"});
        EXPECT_EQ(run.status, 1) << count;
        EXPECT_EQ(run.out, "") << count;
        EXPECT_EQ(run.err, AGMPI + ": #digits must be from 0 to " + std::to_string(MAX_FLOAT_DIGITS) +
                               ", got \"" + count + "\"\n");
    }
}

TEST(AgmpiCli, DigitsLostToAFullDiskAreAFailure) {
    const ProgramRun run = run_program("/bin/sh", {"-c", AGMPI + " 1000 0 1 > /dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, AGMPI + ": cannot write standard output: No space left on device\n");
}

TEST(AgmpiCli, CountBeyondTheMachinesMemoryIsRefusedAtOnce) {
    const long long digits = MAX_FLOAT_DIGITS;
    const MemoryLimit limit = memory_limit(machine_memory());
    if (agmpi_peak_bytes(digits, false) <= limit.bytes) GTEST_SKIP() << "this machine holds even the largest count";
    const std::string count = std::to_string(digits);
    const ProgramRun run = run_program(AGMPI, {count, "0", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::string start = AGMPI + ": " + count + " digits need about ";
    const std::string end = " GiB (" + std::string(limit.name) + ")\n";
    EXPECT_EQ(run.err.compare(0, start.size(), start), 0) << run.err;
    ASSERT_GT(run.err.size(), start.size() + end.size());
    EXPECT_EQ(run.err.substr(run.err.size() - end.size()), end) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

TEST(AgmpiCli, CountBeyondTheProcessLimitIsRefusedAtOnce) {
    // 20,000 KiB of address space cannot hold three million digits' numbers
    // (6.6 bytes a digit and 16 MiB estimated).
    const ProgramRun run =
        run_program("/bin/sh", {"-c", "ulimit -v 20000 && exec " + AGMPI + " 3000000 0 1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, AGMPI + ": 3000000 digits need about 34.9 MiB of memory; the process may "
                               "use 19.5 MiB (ulimit -v)\n");
}

// Lowers the address-space limit below what the check saw, as for a run that
// outgrows its estimate, with a progress line standing on the terminal, then
// asks the library for 8 GiB.
static void run_out_of_memory_mid_run() {
    const struct rlimit limit = {1UL << 30, 1UL << 30};
    setrlimit(RLIMIT_AS, &limit);
    exit_when_memory_runs_out("agmpi");
    note_painted_line(true);
    mpz_t x;
    mpz_init2(x, mp_bitcnt_t{1} << 36);
}

TEST(AgmpiCli, MemoryRunningOutMidRunEndsWithOneLineAtTheMargin) {
    EXPECT_EXIT(run_out_of_memory_mid_run(), ::testing::ExitedWithCode(1),
                "^\r\033\\[Kagmpi: out of memory: could not allocate 8589934592 bytes\n$");
}
