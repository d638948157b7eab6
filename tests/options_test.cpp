// Both programs' options as a user gives them: --help and --version, the
// options anywhere among the positional arguments, malformed, unknown and
// refused ones (one line on stderr, status 1, nothing computed), --fast
// with and without threads printing exactly the default run's digits where
// the engine takes the long products, and --out's file against the known
// decimals of pi.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "pi_reference.h"
#include "run_program.h"

namespace {

const std::string AGMPI = AGMPI_PATH, BSPLITPI = BSPLITPI_PATH;

const std::string AGMPI_USAGE =
    "  #digits [algorithm] [output]\n"
    "\talgorithm=0, one squring and one squre root, subtraction version\n"
    "\t          1, one squring and one squre root, addition version\n"
    "\t          2, one multiplication and one squre root\n"
    "\t   output=0, no output\n"
    "\t          1, output to stdout\n";
const std::string BSPLITPI_USAGE =
    "  #digits [output]\n"
    "    output=0, no output\n"
    "           1, output to screen\n"
    "    [threads]=1, one thread; 0, every core; N, N threads\n";

// The digit line of a report: the line that starts with "0.".
std::string digit_line(const std::string& out) {
    const auto start = out.find("\n0.");
    const auto from = out.compare(0, 2, "0.") == 0 ? 0 : start == std::string::npos ? out.size() : start + 1;
    return out.substr(from, out.find('\n', from) - from);
}

void expect_refused(const std::string& program, const std::vector<std::string>& args, const std::string& line) {
    const ProgramRun run = run_program(program, args);
    EXPECT_EQ(run.status, 1) << line;
    EXPECT_EQ(run.out, "") << line;
    EXPECT_EQ(run.err, program + ": " + line + "\n");
}

}  // namespace

TEST(Options, HelpAndVersion) {
    ProgramRun run = run_program(AGMPI, {"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, AGMPI + AGMPI_USAGE +
                           "\t   --fast, products through the project's engine; --threads=N, with --fast: N threads\n"
                           "\t   --out=FILE, 3. and the decimals of pi, truncated, to FILE\n"
                           "\t   --hex, hexadecimal digits instead; --verify, the digits checked before they are written\n");
    run = run_program(BSPLITPI, {"5", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, BSPLITPI + BSPLITPI_USAGE +
                           "    --fast, products through the project's engine; --threads=N, as [threads]\n"
                           "    --out=FILE, 3. and the decimals of pi, truncated, to FILE\n"
                           "    --hex, hexadecimal digits instead; --verify, the digits checked before they are written\n"
                           "    --checkpoint=DIR, the run's state kept in DIR as it goes; --resume=DIR, a stopped run "
                           "taken up\n"
                           "    --memory=SIZE, a run whose estimated peak is above SIZE (such as 512M or 4G) refused\n");
    for (const std::string& program : {AGMPI, BSPLITPI}) {
        run = run_program(program, {"--version"});
        const std::string name = program.substr(program.rfind('/') + 1);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.compare(0, name.size() + 1, name + " "), 0) << run.out;
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

TEST(Options, MalformedUnknownAndRefusedOptionsComputeNothing) {
    for (const std::string& program : {AGMPI, BSPLITPI}) {
        expect_refused(program, {"1000", "--bogus"}, "unknown option \"--bogus\"");
        expect_refused(program, {"--fast=1", "1000"}, "unknown option \"--fast=1\"");
        expect_refused(program, {"--threads", "1000"}, "unknown option \"--threads\"");
        for (const std::string n : {"x", "-1", "1025", "", "2x"})
            expect_refused(program, {"--fast", "--threads=" + n, "1000"},
                           "--threads must be from 0 (every core) to 1024, got \"" + n + "\"");
    }
    expect_refused(AGMPI, {"1000", "--threads=2"},
                   "--threads needs --fast: the threads work inside the engine's products");
    expect_refused(BSPLITPI, {"1000", "1", "2", "--threads=2"}, "threads given twice, \"2\" and --threads");
    for (const std::string size : {"0", "1023K", "4X", "G", "-1", "2GB", "99999999999999T"})
        expect_refused(BSPLITPI, {"1000", "--memory=" + size},
                       "--memory takes a size from 1M up, such as 512M or 4G, not \"" + size + "\"");
    expect_refused(BSPLITPI, {"1000", "--memory=1G", "--memory=2G"}, "--memory given twice");
    expect_refused(BSPLITPI, {"100000000", "--memory=64M"},
                   "100000000 digits need about 784.5 MiB of memory; the run may use 64.0 MiB (--memory=64M)");
    expect_refused(AGMPI, {"1000", "--memory=1G"},
                   "--memory is bsplitpi's: the AGM keeps all its numbers in memory at once");
}

TEST(Options, AnywhereAmongThePositionalArguments) {
    const std::string plain = mask_times(run_program(AGMPI, {"1000", "1", "1"}).out);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--fast", "1000", "1", "1"}, {"1000", "--fast", "1", "1"}, {"1000", "1", "1", "--fast"},
             {"--", "1000", "1", "1"}})
        EXPECT_EQ(mask_times(run_program(AGMPI, args).out), plain) << args[0] << " " << args[1];
    const std::string series = mask_times(run_program(BSPLITPI, {"1000", "1"}).out);
    EXPECT_EQ(mask_times(run_program(BSPLITPI, {"1000", "--fast", "1"}).out), series);
}

TEST(Options, FastPrintsTheDefaultRunsDigits) {
    // Counts whose numbers are long enough for the engine: every variant's
    // AGM products at 60,000 digits, and at 300,000 on threads too (below
    // about 240,000 digits no product is long enough to share, and a run
    // asking for threads is a one-thread run with a one-thread report); the
    // splitting's top and the final steps at 300,000.
    for (const std::string variant : {"0", "1", "2"})
        for (const std::string count : {"60000", "300000"}) {
            const std::string plain = digit_line(run_program(AGMPI, {count, variant, "1"}).out);
            ASSERT_GT(plain.size(), std::stoul(count));
            EXPECT_EQ(digit_line(run_program(AGMPI, {"--fast", count, variant, "1"}).out), plain) << variant;
            const ProgramRun threaded = run_program(AGMPI, {"--fast", "--threads=2", count, variant, "1"});
            EXPECT_EQ(digit_line(threaded.out), plain) << variant;
            EXPECT_EQ(threaded.out.find("Done\nWall-clock times, 2 threads\nComputation time=") != std::string::npos,
                      count == "300000")
                << count;
        }
    const std::string plain = digit_line(run_program(BSPLITPI, {"300000", "1"}).out);
    ASSERT_GT(plain.size(), 300000u);
    EXPECT_EQ(digit_line(run_program(BSPLITPI, {"300000", "1", "--fast"}).out), plain);
    const ProgramRun threaded = run_program(BSPLITPI, {"300000", "1", "--fast", "--threads=2"});
    EXPECT_EQ(digit_line(threaded.out), plain);
    EXPECT_NE(threaded.out.find("\nWall-clock times, 2 threads\n"), std::string::npos);
    EXPECT_EQ(threaded.err, "");
}

namespace {

std::string read_file(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return "(missing)";
    std::string text;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    return text;
}

// "3." and the first `decimals` decimals of pi, from tests/data.
std::string true_decimals(long decimals) {
    static const std::string pi = read_file(PI_TEST_DATA_DIR "/pi-1000000.txt");
    return pi.substr(0, static_cast<size_t>(decimals) + 2);
}

}  // namespace

TEST(Out, WritesTruncatedDecimalsAndLeavesTheReportAlone) {
    // 765: the digit line rounds up through a run of 9s; 761: decimals 762
    // to 767 are 9s, 17533: decimals 17534 to 17538 are 0s, where the run's
    // error could carry across the last decimal and pi is computed again.
    const std::string path = ::testing::TempDir() + "pi_out." + std::to_string(getpid());
    for (long digits : {0L, 1L, 761L, 765L, 2000L, 17533L}) {
        const std::string count = std::to_string(digits);
        const std::vector<std::vector<std::string>> runs = {
            {AGMPI, count, "0", "1"}, {AGMPI, count, "2", "0"}, {BSPLITPI, count, "1"}, {BSPLITPI, count, "0", "--fast"}};
        for (const std::vector<std::string>& run : runs) {
            const std::string where = run[0].substr(run[0].rfind('/') + 1) + " " + run[1] + " " + run[2];
            std::vector<std::string> args(run.begin() + 1, run.end());
            const std::string plain = mask_times(run_program(run[0], args).out);
            args.push_back("--out=" + path);
            const ProgramRun out = run_program(run[0], args);
            EXPECT_EQ(out.status, 0) << where;
            EXPECT_EQ(mask_times(out.out), plain) << where;
            const std::string expected = true_decimals(digits);
            EXPECT_EQ(read_file(path), expected + "\n") << where;
            // The summary: what sha256sum prints, and the last 20 digits.
            const std::string hash = run_program("/usr/bin/sha256sum", {path}).out.substr(0, 64);
            EXPECT_EQ(out.err, run[0] + ": " + path + ": SHA-256 " + hash + ", last digits " +
                                   expected.substr(expected.size() - std::min<std::size_t>(digits, 20)) + "\n")
                << where;
            std::remove(path.c_str());
        }
    }
}

namespace {

// A directory of the test's own, empty.
std::string fresh_directory(const std::string& name) {
    const std::string dir = ::testing::TempDir() + name + "." + std::to_string(getpid());
    run_program("/bin/rm", {"-rf", dir});
    mkdir(dir.c_str(), 0755);
    return dir;
}

// The names in dir, sorted, each with the first letter of its kind as stat
// names it: "name:r" a regular file, ":s" a symbolic link, ":f" a FIFO, ":c"
// a character device.
std::string listing(const std::string& dir) {
    return run_program("/bin/sh", {"-c", "cd " + dir + " && for f in $(ls -A); do printf '%s:%s ' \"$f\" "
                                       "\"$(stat -c %F \"$f\" | cut -c1)\"; done"})
        .out;
}

}  // namespace

TEST(Out, RefusedBeforeAnyComputationWhereItCannotBeWritten) {
    for (const std::string& program : {AGMPI, BSPLITPI}) {
        const ProgramRun run = run_program(program, {"100", "1", "--out=/nonexistent/pi.txt"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");  // no report: nothing was computed
        EXPECT_EQ(run.err, program + ": cannot create a file in /nonexistent: No such file or directory\n");
    }
    const std::string dir = fresh_directory("pi_refused");
    expect_refused(AGMPI, {"100", "--out=" + dir}, "cannot write " + dir + ": Is a directory");
    expect_refused(BSPLITPI, {"100", "--out=a", "--out=b"}, "--out given twice");
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's reservations cannot start under the limit
    // A run refused before it starts touches no file.
    const ProgramRun refused =
        run_program("/bin/sh", {"-c", "ulimit -v 20000 && exec " + AGMPI + " 3000000 --out=" + dir + "/pi"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(listing(dir), "");
#endif
    expect_refused(BSPLITPI, {"100", "--out="}, "--out needs a file name: --out=FILE");
}

TEST(Out, ReplacesAFileThroughItsLinkKeepingItsModeAndWritesAnythingElseDirectly) {
    const std::string dir = fresh_directory("pi_paths"), digits = true_decimals(100) + "\n";
    const std::string own = dir + "/own", link = dir + "/link", fifo = dir + "/fifo", device = dir + "/null";
    std::FILE* file = std::fopen(own.c_str(), "w");
    std::fputs("old\n", file);
    std::fclose(file);
    chmod(own.c_str(), 0600);
    symlink("own", link.c_str());
    mkfifo(fifo.c_str(), 0644);
    const bool root = geteuid() == 0;
    if (root) mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3));  // as /dev/null
    ProgramRun run = run_program(BSPLITPI, {"100", "--out=" + link});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(own), digits);
    struct stat status;
    ASSERT_EQ(stat(own.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    // A link to no file yet: the file is made at its target.
    symlink("new", (dir + "/dangling").c_str());
    EXPECT_EQ(run_program(AGMPI, {"100", "--out=" + dir + "/dangling"}).status, 0);
    EXPECT_EQ(read_file(dir + "/new"), digits);
    run = run_program("/bin/sh", {"-c", "cat " + fifo + " > " + dir + "/read & " + AGMPI + " 100 --out=" + fifo +
                                            " && wait"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir + "/read"), digits);
    if (root) {
        EXPECT_EQ(run_program(BSPLITPI, {"100", "--out=" + device}).status, 0);
    }
    EXPECT_EQ(listing(dir), std::string("dangling:s fifo:f link:s new:r ") + (root ? "null:c " : "") + "own:r read:r ");
    run = run_program(BSPLITPI, {"100", "--out=/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, BSPLITPI + ": cannot write /dev/full: No space left on device\n");
}

TEST(Out, AnInterruptedRunLeavesTheFileAsItWas) {
    const std::string dir = fresh_directory("pi_interrupted");
    std::FILE* file = std::fopen((dir + "/pi").c_str(), "w");
    std::fputs("old\n", file);
    std::fclose(file);
    const ProgramRun run = run_program(
        "/bin/sh", {"-c", BSPLITPI + " 100000000 --out=" + dir + "/pi & sleep 0.5; kill -TERM $!; wait $!"});
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_EQ(listing(dir), "pi:r ");
    EXPECT_EQ(read_file(dir + "/pi"), "old\n");
}

namespace {

// Lines of a report that hold digits: "0.31…e1", "3.24…".
bool has_digit_line(const std::string& out) { return out.find("\n0.") != std::string::npos || out.find("\n3.") != std::string::npos || out.compare(0, 2, "0.") == 0; }

}  // namespace

TEST(Verify, PassesInBothProgramsAndModesLeavingTheReportAlone) {
    for (const std::string& program : {AGMPI, BSPLITPI})
        for (const std::string count : {"0", "100", "2000", "120000"})
            for (const std::vector<std::string>& mode : {std::vector<std::string>{}, {"--fast", "--threads=2"}}) {
                std::vector<std::string> args = {count, program == AGMPI ? "2" : "1"};
                if (program == AGMPI) args.push_back("1");
                args.insert(args.end(), mode.begin(), mode.end());
                const std::string plain = mask_times(run_program(program, args).out);
                args.push_back("--verify");
                const ProgramRun run = run_program(program, args);
                const std::string where = program + " " + count + (mode.empty() ? "" : " --fast");
                EXPECT_EQ(run.status, 0) << where;
                EXPECT_EQ(mask_times(run.out), plain) << where;
                // One line a check: the value's digits, the digit line.
                const auto second = run.err.find("\nverify: decimal text checked against the value modulo a 61-bit prime");
                EXPECT_EQ(run.err.compare(0, 8, "verify: "), 0) << run.err;
                EXPECT_NE(second, std::string::npos) << run.err;
                EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
            }
}

TEST(Verify, ADamagedValueOrTextFailsAndNothingIsWritten) {
    const std::string dir = fresh_directory("pi_verify");
    for (const std::string& program : {AGMPI, BSPLITPI})
        for (const std::string what : {"value", "text"}) {
            const ProgramRun run = run_program(
                "/bin/sh", {"-c", "PI_VERIFY_DAMAGE=" + what + " exec " + program + " 100000 1 1 --verify --out=" +
                                      dir + "/pi"});
            EXPECT_EQ(run.status, 1) << program << " " << what;
            EXPECT_FALSE(has_digit_line(run.out)) << program << " " << what;
            EXPECT_NE(run.err.find(what == "value" ? " disagree with the digit-extraction formula: the value has "
                                                   : "verify: the digit line disagrees with the value"),
                      std::string::npos)
                << run.err;
            EXPECT_EQ(listing(dir), "");
        }
    expect_refused(AGMPI, {"10", "--verify", "--verify"}, "--verify given twice");
    expect_refused(BSPLITPI, {"10", "--hex", "--hex"}, "--hex given twice");
}

TEST(Hex, DigitLinesAndFilesAreThoseOfTheReference) {
    const std::string path = ::testing::TempDir() + "pi_hex." + std::to_string(getpid());
    for (const std::string& program : {AGMPI, BSPLITPI})
        for (const std::string count : {"0", "1", "1000", "150000"})
            for (const bool fast : {false, true}) {
                std::vector<std::string> args = {count, "1"};
                if (program == AGMPI) args.push_back("1");
                args.insert(args.end(), {"--hex", "--verify", "--out=" + path});
                if (fast) args.insert(args.end(), {"--fast", "--threads=2"});
                const ProgramRun run = run_program(program, args);
                const std::string expected = pi_reference_hex(std::stoul(count)),
                                  where = program + " " + count + (fast ? " --fast" : "");
                EXPECT_EQ(run.status, 0) << where << run.err;
                EXPECT_NE(run.out.find("\n" + expected + "\n"), std::string::npos) << where;
                EXPECT_EQ(read_file(path), expected + "\n") << where;
                std::remove(path.c_str());
            }
}
