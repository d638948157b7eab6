// bsplitpi's checkpoints as a user meets them: a run stopped after each
// state it keeps and resumed gives the uninterrupted run's digits and leaves
// no file; damaged, foreign and misplaced states and directories are refused
// with one line before any work; a stopped run says how to resume.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

const std::string BSPLITPI = BSPLITPI_PATH, AGMPI = AGMPI_PATH;

std::string fresh_directory(const std::string& name) {
    const std::string dir = ::testing::TempDir() + name + "." + std::to_string(getpid());
    run_program("/bin/rm", {"-rf", dir});
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::string files_in(const std::string& dir) { return run_program("/bin/ls", {"-A", dir}).out; }

// bsplitpi with args, killed (SIGKILL) after it has kept `stop` states
// where stop > 0.
ProgramRun bsplitpi(const std::vector<std::string>& args, int stop = 0) {
    std::string command = "PI_CHECKPOINT_KILL=" + std::to_string(stop) + " exec " + BSPLITPI;
    for (const std::string& arg : args) command += " '" + arg + "'";
    return run_program("/bin/sh", {"-c", command});
}

void expect_refused(const std::vector<std::string>& args, const std::string& line,
                    const std::string& program = BSPLITPI) {
    const ProgramRun run = program == BSPLITPI ? bsplitpi(args) : run_program(program, args);
    EXPECT_EQ(run.status, 1) << line;
    EXPECT_EQ(run.out, "") << line;
    EXPECT_EQ(run.err, program + ": " + line + "\n");
}

}  // namespace

TEST(Checkpoint, StoppedAfterAnyStateAndResumedGivesTheSameDigits) {
    const std::string dir = fresh_directory("pi_checkpoints");
    for (const std::vector<std::string>& how : {std::vector<std::string>{"100000", "1"},
                                                std::vector<std::string>{"100000", "1", "--fast", "--threads=2"},
                                                std::vector<std::string>{"30000", "1", "--hex"}}) {
        const std::string expected = bsplitpi(how).out;
        std::vector<std::string> first = how, again = how;
        first.push_back("--checkpoint=" + dir);
        again.push_back("--resume=" + dir);
        // Every state kept (14 nodes, the root's combination halfway, the
        // splitting, the square root, pi), then a run that keeps them all
        // and ends.
        for (int stop = 1;; ++stop) {
            const ProgramRun stopped = bsplitpi(first, stop);
            if (stopped.status == 0) {
                EXPECT_EQ(mask_times(stopped.out), mask_times(expected));
                EXPECT_EQ(files_in(dir), "");
                break;
            }
            ASSERT_EQ(stopped.status, 128 + SIGKILL) << stop;
            ASSERT_NE(files_in(dir), "") << stop;
            // Stopped once more on the way, where it has that far to go (from
            // pi itself it keeps nothing more and ends).
            if (stop % 3 == 0 && bsplitpi(again, 1).status == 0) {
                EXPECT_EQ(files_in(dir), "") << stop;
                continue;
            }
            const ProgramRun resumed = bsplitpi(again);
            EXPECT_EQ(resumed.status, 0) << stop << resumed.err;
            EXPECT_EQ(mask_times(resumed.out), mask_times(expected)) << stop;
            EXPECT_EQ(resumed.err.compare(0, BSPLITPI.size() + 16, BSPLITPI + ": resuming from "), 0) << resumed.err;
            EXPECT_EQ(files_in(dir), "") << stop;
            ASSERT_LT(stop, 40);
        }
    }
    const ProgramRun empty = bsplitpi({"1000", "1", "--resume=" + dir});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.err, BSPLITPI + ": no checkpoint in " + dir + " yet: starting from the beginning\n");
}

TEST(Checkpoint, DamagedForeignOrMisplacedStatesAreRefusedBeforeAnyWork) {
    const std::string dir = fresh_directory("pi_refused_checkpoints");
    ASSERT_EQ(bsplitpi({"100000", "--checkpoint=" + dir}, 1).status, 128 + SIGKILL);
    const std::string kept = files_in(dir), state = dir + "/" + kept.substr(0, kept.find('\n'));
    const auto refused = [](const std::string& file) { return file + " is damaged or another run's checkpoint: refused"; };
    expect_refused({"100000", "--checkpoint=" + dir},
                   dir + " holds checkpoints already: --resume=" + dir + " goes on with their run");
    expect_refused({"200000", "--resume=" + dir}, refused(state));
    expect_refused({"100000", "1", "--resume=" + dir},
                   state + " is a checkpoint of another run (bsplitpi decimal digits=100000 output=0 out=0): refused");
    const std::string stray = dir + "/pi-node-1-2";
    std::fclose(std::fopen(stray.c_str(), "w"));
    expect_refused({"100000", "--resume=" + dir}, refused(stray));
    unlink(stray.c_str());
    std::FILE* file = std::fopen(state.c_str(), "r+b");
    std::fseek(file, 3000, SEEK_SET);
    const int byte = std::fgetc(file);
    std::fseek(file, 3000, SEEK_SET);
    std::fputc(byte ^ 4, file);
    std::fclose(file);
    expect_refused({"100000", "--resume=" + dir}, refused(state));
    expect_refused({"100", "2", "--checkpoint=" + dir}, "the trace (output 2) is not kept in checkpoints: no --checkpoint with it");
    expect_refused({"100", "--checkpoint=" + dir, "--resume=" + dir},
                   "--checkpoint and --resume given together: --resume=DIR keeps checkpoints too");
    expect_refused({"100", "--resume=" + state}, state + " is not a directory");
    expect_refused({"100", "--resume="}, "--resume needs a directory: --resume=DIR");
    expect_refused({"100", "--resume=" + dir}, "--resume is bsplitpi's: the AGM's state is all its numbers at full precision",
                   AGMPI);
}

TEST(Checkpoint, AStoppedRunSaysHowToResume) {
    const std::string dir = fresh_directory("pi_stopped_checkpoints");
    const ProgramRun run = run_program(
        "/bin/sh", {"-c", BSPLITPI + " 100000000 0 --checkpoint=" + dir + " & sleep 0.5; kill -TERM $!; wait $!"});
    EXPECT_EQ(run.status, 128 + SIGTERM);
    const std::string line =
        BSPLITPI + ": stopped; `" + BSPLITPI + " 100000000 0 --resume=" + dir + "` goes on from the last checkpoint\n";
    EXPECT_EQ(run.err.substr(0, line.size()), line);  // the shell's own notice may follow
}
