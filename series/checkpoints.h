#pragma once
// What a run keeps in its checkpoint directory, and takes back from it when
// resumed: the splitting's nodes three levels below the root (eight parts)
// and those above them, the root's combination halfway, the splitting's
// result, the square root, and pi. A state is kept once it is complete; a
// node's file replaces its halves', the result's the nodes', pi's the
// result's and the root's. So a stop loses at most about an eighth of the
// splitting, half the root's combination, or one final step.

#include <gmp.h>

#include <string>

namespace series {

struct CheckpointRun {
    const char* program;
    std::string dir;
    bool resume;      // --resume: the directory's states are taken up
    std::string run;  // the run's line: what its states depend on
    unsigned long terms;
};

// Turns checkpoints on for this run: with resume, checks every state the
// directory holds (refusing a damaged or another run's with one line) and
// says on stderr from where the run goes on; else refuses a directory that
// holds states already. The directory is made where missing. False, after
// one line, where the run is refused.
bool checkpoints_start(const CheckpointRun& run);

// Whether checkpoints are kept (on, and not paused for a recomputation).
bool checkpoints_on();

// While one lives, nothing is kept or taken up (pi computed again with
// more digits is not the run's state).
class CheckpointsPaused {
public:
    CheckpointsPaused();
    ~CheckpointsPaused();
    CheckpointsPaused(const CheckpointsPaused&) = delete;
    CheckpointsPaused& operator=(const CheckpointsPaused&) = delete;

private:
    bool was_;
};

// The node (a, b]: kept where it is one of the kept levels; taken up where
// the directory holds it (true: p, q and, where gflag, g hold its values).
bool node_taken_up(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag);
void node_done(const mpz_t p, const mpz_t q, const mpz_t g, unsigned long a, unsigned long b, int gflag);

// The root's combination halfway (combine_halves' two steps): p, q, p2 and
// the scaled q2. checkpoints_root: whether (a, b] is the root and
// checkpoints are on.
bool checkpoints_root(unsigned long a, unsigned long b);
bool join_taken_up(mpz_t p, mpz_t q, mpz_t p2, mpz_t q2);
void join_done(const mpz_t p, const mpz_t q, const mpz_t p2, const mpz_t q2);

// The splitting's result p, q; the square root; pi.
bool split_taken_up(mpz_t p, mpz_t q);
void split_done(const mpz_t p, const mpz_t q);
bool root_taken_up(mpf_t root);
void root_done(const mpf_t root);
bool pi_taken_up(mpf_t pi);
void pi_done(const mpf_t pi);

// The run ends: every state written is in place, and where it succeeded
// they are removed.
void checkpoints_end(bool succeeded);

}  // namespace series
