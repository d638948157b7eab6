// bsplitpi as a user runs it: whole reports with the timing figures masked,
// the trace, the digits against true pi and against agmpi, exit statuses and
// bad input.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pi_reference.h"
#include "memory.h"
#include "progress.h"
#include "terms.h"
#include "run_program.h"
#include "split_trace.h"
#include "threads.h"

static const std::string BSPLITPI = BSPLITPI_PATH;
static const std::string AGMPI = AGMPI_PATH;

static const std::string TIMES =
    "Binary splitting     time=#\n"
    "Integer to float     time=#\n"
    "Final square root    time=#\n"
    "Final multiplication time=#\n"
    "Final division       time=#\n"
    "Total                time=#\n";

// The digits line of a report printed with output 1, checked against pi;
// also checks the header's term count and the lines around it.
static std::string check_digits_report(const std::string& out, int digits, int terms) {
    const std::string masked = mask_times(out);
    const std::string header = "pi(0," + std::to_string(terms) + ")=\n";
    if (masked.compare(0, header.size(), header) != 0) return "header: " + masked.substr(0, 30);
    const auto line_end = masked.find('\n', header.size());
    if (line_end == std::string::npos || masked.substr(line_end + 1) != TIMES)
        return "timing lines: " + masked.substr(line_end == std::string::npos ? 0 : line_end);
    return check_pi_line(masked.substr(header.size(), line_end - header.size()), digits);
}

static std::string digits_line(const std::string& out) {
    const auto start = out.find("\n0.") + 1;
    return out.substr(start, out.find('\n', start) - start);
}

TEST(BsplitpiCli, NoArgumentPrintsUsageAndFails) {
    const ProgramRun run = run_program(BSPLITPI, {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BSPLITPI +
                           "  #digits [output]\n"
                           "    output=0, no output\n"
                           "           1, output to screen\n"
                           "    [threads]=1, one thread; 0, every core; N, N threads\n");
    EXPECT_EQ(run.err, "");
}

TEST(BsplitpiCli, TimingLinesAloneByDefault) {
    for (const auto& args : {std::vector<std::string>{"1000"}, std::vector<std::string>{"1000", "0"},
                             std::vector<std::string>{"1000", "4", "1", "more"}}) {
        const ProgramRun run = run_program(BSPLITPI, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(mask_times(run.out), TIMES);
        EXPECT_EQ(run.err, "");
    }
}

TEST(BsplitpiCli, HundredDigitsWithHeader) {
    const ProgramRun run = run_program(BSPLITPI, {"100", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_times(run.out),
              "pi(0,7)=\n"
              "0.314159265358979323846264338327950288419716939937510582097494459230781640628620899"
              "862803482534211706798e1\n" + TIMES);
}

TEST(BsplitpiCli, TraceAloneAndWithDigits) {
    // 45 digits: three terms, the trace of (0,3] before anything else.
    const std::string trace = SPLIT_TRACE_0_3;
    EXPECT_EQ(mask_times(run_program(BSPLITPI, {"45", "2"}).out), trace + TIMES);
    const ProgramRun both = run_program(BSPLITPI, {"45", "3"});
    EXPECT_EQ(both.status, 0);
    ASSERT_EQ(both.out.compare(0, trace.size(), trace), 0);
    EXPECT_EQ(check_digits_report(both.out.substr(trace.size()), 45, 3), "");
}

TEST(BsplitpiCli, SmallCountsAndTheirTerms) {
    // Up to 11 digits term 0 suffices; 12 to 14 need term 1; 27 and 28 need
    // two terms, one more than digits / 14.181.
    for (int digits = 0; digits <= 30; ++digits) {
        const int terms = digits <= 11 ? 0 : digits <= 26 ? 1 : 2;
        const ProgramRun run = run_program(BSPLITPI, {std::to_string(digits), "1"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(check_digits_report(run.out, digits, terms), "") << digits << " digits";
    }
}

TEST(BsplitpiCli, CountsThatLostDigitsBeforeGuardBitsAndTerms) {
    const int cases[][2] = {{14, 1}, {28, 2}, {4063, 286}, {16285, 1148}};
    for (const auto& c : cases) {
        const ProgramRun run = run_program(BSPLITPI, {std::to_string(c[0]), "1"});
        EXPECT_EQ(check_digits_report(run.out, c[0], c[1]), "") << c[0] << " digits";
    }
}

TEST(BsplitpiCli, AgreesWithAgmpi) {
    // Two independent methods: each within one unit of pi, and in practice
    // they round alike.
    for (int digits : {0, 11, 12, 1000, 2455, 4063, 16285, 100000}) {
        const std::string count = std::to_string(digits);
        const std::string series = digits_line(run_program(BSPLITPI, {count, "1"}).out);
        for (const char* algorithm : {"0", "1", "2"}) {
            const std::string agm = digits_line(run_program(AGMPI, {count, algorithm, "1"}).out);
            EXPECT_EQ(series, agm) << digits << " digits, variant " << algorithm;
        }
        EXPECT_EQ(check_pi_line(series, digits), "") << digits;
    }
}

TEST(BsplitpiCli, DigitCountOutOfRangeIsRefused) {
    const std::string too_many = std::to_string(series::series_max_digits() + 1);
    for (const std::string& count :
         {std::string("-1"), too_many, std::string("99999999999999999999")}) {
        const ProgramRun run = run_program(BSPLITPI, {count, "3"});
        EXPECT_EQ(run.status, 1) << count;
        EXPECT_EQ(run.out, "") << count;
        EXPECT_EQ(run.err, BSPLITPI + ": #digits must be from 0 to " +
                               std::to_string(series::series_max_digits()) + ", got \"" + count + "\"\n");
    }
}

TEST(BsplitpiCli, NumbersReadAsAtoiReadsThemAndSaySo) {
    ProgramRun run = run_program(BSPLITPI, {"12abc", "1"});
    EXPECT_EQ(mask_times(run.out), "pi(0,1)=\n0.31415926535898e1\n" + TIMES);
    EXPECT_EQ(run.err, BSPLITPI + ": warning: '12abc' read as 12\n");
    run = run_program(BSPLITPI, {"abc", "1x"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_times(run.out), "pi(0,0)=\n0.31e1\n" + TIMES);
    EXPECT_EQ(run.err, BSPLITPI + ": warning: 'abc' read as 0\n" + BSPLITPI + ": warning: '1x' read as 1\n");
    EXPECT_EQ(run_program(BSPLITPI, {"+0012", "-0"}).err, "");
}

TEST(BsplitpiCli, ThreadsGiveTheSameOutputWithWallClockTimes) {
    // From 100,000 digits on, threads run: counts whose terms halve evenly
    // among the threads and counts that do not. Below, the run is one
    // thread's, its report too; 45 digits with the trace as well.
    for (const char* count : {"45", "16285", "100000", "113449"}) {
        const std::string output = std::string(count) == "45" ? "3" : "1";
        const bool threaded = std::atoll(count) >= 100000;
        const std::string one = mask_times(run_program(BSPLITPI, {count, output}).out);
        for (const int threads : {2, 3}) {
            const ProgramRun run = run_program(BSPLITPI, {count, output, std::to_string(threads)});
            EXPECT_EQ(run.status, 0);
            const std::string masked = mask_times(run.out);
            if (!threaded) {
                EXPECT_EQ(run.err, "");
                EXPECT_EQ(masked, one) << count << " digits, " << threads << " threads";
                continue;
            }
            // No more threads than the cores the process may run on.
            const int had = std::min(threads, available_cores());
            EXPECT_EQ(run.err, had == threads ? ""
                                              : BSPLITPI + ": warning: " + std::to_string(threads) + " threads lowered to " +
                                                    std::to_string(had) + ", the cores this process may run on\n");
            if (had == 1) {
                EXPECT_EQ(masked, one);
                continue;
            }
            const std::string wall = "Wall-clock times, " + std::to_string(had) + " threads\n";
            const auto times = masked.find(wall);
            ASSERT_NE(times, std::string::npos) << count << " digits, " << threads << " threads";
            EXPECT_EQ(masked.substr(0, times), one.substr(0, one.size() - TIMES.size()));
            EXPECT_EQ(masked.substr(times), wall + TIMES);
        }
    }
}

TEST(BsplitpiCli, ThreadCountOutOfRangeIsRefused) {
    for (const std::string& threads : {std::string("-1"), std::string("1025"), std::string("2abc"), std::string("+2")}) {
        const ProgramRun run = run_program(BSPLITPI, {"1000", "1", threads});
        EXPECT_EQ(run.status, 1) << threads;
        EXPECT_EQ(run.out, "") << threads;
        EXPECT_EQ(run.err, BSPLITPI + ": threads must be from 0 (every core) to 1024, got \"" +
                               threads + "\"\n");
    }
}

TEST(BsplitpiCli, DigitsLostToAClosedOutputAreAFailure) {
    const ProgramRun run = run_program("/bin/sh", {"-c", BSPLITPI + " 1000 1 >&-"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, BSPLITPI + ": cannot write standard output: Bad file descriptor\n");
}

TEST(BsplitpiCli, CountBeyondTheMachinesMemoryIsRefusedAtOnce) {
    const long long digits = series::series_max_digits();
    if (series::series_peak_bytes(digits, 1, false) <= memory_limit(machine_memory()).bytes)
        GTEST_SKIP() << "this machine holds even the largest count";
    const std::string count = std::to_string(digits);
    const ProgramRun run = run_program(BSPLITPI, {count, "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::string start = BSPLITPI + ": " + count + " digits need about ";
    EXPECT_EQ(run.err.compare(0, start.size(), start), 0) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

TEST(BsplitpiCli, ProgressOnATerminalOnly) {
    // Three million digits take over half a second here, long enough for a
    // few updates. On a terminal (script gives the run one) the line shows
    // the splitting's share and is erased before the run ends; through a
    // pipe nothing is added.
    const std::string digits_file =
        ::testing::TempDir() + "bsplitpi_progress_digits." + std::to_string(getpid());
    const ProgramRun tty = run_program(
        "/usr/bin/script", {"-qec", BSPLITPI + " 3000000 1 > " + digits_file, "/dev/null"});
    ASSERT_EQ(tty.status, 0) << tty.err;
    EXPECT_NE(tty.out.find(BSPLITPI + ": binary splitting "), std::string::npos) << tty.out;
    const std::string erase = "\r\033[K";
    ASSERT_GE(tty.out.size(), erase.size());
    EXPECT_EQ(tty.out.substr(tty.out.size() - erase.size()), erase);

    const ProgramRun piped = run_program(BSPLITPI, {"3000000", "1"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    std::FILE* file = std::fopen(digits_file.c_str(), "r");
    ASSERT_NE(file, nullptr);
    std::string written;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) written.append(buffer, n);
    std::fclose(file);
    std::remove(digits_file.c_str());
    EXPECT_EQ(digits_line(written), digits_line(piped.out));
}

TEST(BsplitpiCli, BackgroundRunPaintsNothingAndNeverStops) {
    // A job in the background of a shell with job control, on a terminal set
    // to stop background jobs that write to it: a paint would stop the job
    // (wait then reports status 150, SIGTTOU), and none must show.
    const std::string job = BSPLITPI + " 3000000 1 > /dev/null & wait $!; echo status=$?";
    const ProgramRun tty = run_program(
        "/usr/bin/script", {"-qec", "stty tostop; sh -c 'set -m; " + job + "'", "/dev/null"});
    ASSERT_EQ(tty.status, 0) << tty.err;
    EXPECT_EQ(tty.out, "status=0\r\n");

    // The group that may paint is the terminal's foreground group, when known.
    EXPECT_TRUE(series::in_foreground(4242, 4242));
    EXPECT_FALSE(series::in_foreground(4242, 4243));
    EXPECT_FALSE(series::in_foreground(-1, 4242));
}
