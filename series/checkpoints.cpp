#include "checkpoints.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "checkpoint_file.h"
#include "fatal_line.h"
#include "progress.h"

namespace series {

namespace {

struct Node {
    unsigned long a, b;
    int gflag;
};

constexpr int KEPT_LEVELS = 3;
const char JOIN[] = "pi-join", SPLIT[] = "pi-split", ROOT[] = "pi-root", VALUE[] = "pi-value";

CheckpointRun current;
bool on = false, paused = false;
std::atomic<bool> writing{true};  // false once a file could not be written
std::vector<Node> kept;           // the nodes kept, levels 1 to KEPT_LEVELS
unsigned long narrowest = 0;      // the fewest terms a kept node has
std::atomic<long> commits{0};
long stop_after = 0;  // tests: the process is killed after this many files (0: never)

std::string node_name(unsigned long a, unsigned long b) {
    return "pi-node-" + std::to_string(a) + "-" + std::to_string(b);
}

// The splitting's nodes from the root's halves down to KEPT_LEVELS, as
// split_series divides (a, b] and passes g's flag down.
void find_kept(unsigned long a, unsigned long b, int gflag, int level) {
    if (level > KEPT_LEVELS || b - a < 2) return;
    const unsigned long m = (a + b) / 2;
    if (level > 0) {
        kept.push_back({a, b, gflag});
        if (narrowest == 0 || b - a < narrowest) narrowest = b - a;
    }
    find_kept(a, m, 1, level + 1);
    find_kept(m, b, gflag, level + 1);
}

const Node* kept_node(unsigned long a, unsigned long b) {
    if (!checkpoints_on() || b - a < narrowest) return nullptr;
    for (const Node& node : kept)
        if (node.a == a && node.b == b) return &node;
    return nullptr;
}

// The numbers a state of this name holds (integers, floats); false where no
// state of this run has the name.
bool expected_numbers(const std::string& name, int* integers, int* floats) {
    *integers = 0;
    *floats = 0;
    if (name == SPLIT || name == JOIN) {
        *integers = name == SPLIT ? 2 : 4;
        return true;
    }
    if (name == ROOT || name == VALUE) {
        *floats = 1;
        return true;
    }
    for (const Node& node : kept)
        if (name == node_name(node.a, node.b)) {
            *integers = node.gflag ? 3 : 2;
            return true;
        }
    return false;
}

void keep(const std::string& name, const std::vector<mpz_srcptr>& integers, const std::vector<mpf_srcptr>& floats) {
    if (!checkpoints_on() || !writing) return;
    checkpoint::Writer writer(current.dir, name, current.run, static_cast<int>(integers.size() + floats.size()));
    for (mpz_srcptr x : integers) writer.add(x);
    for (mpf_srcptr x : floats) writer.add(x);
    if (!writer.commit(current.program)) {
        // The digits do not depend on it: the run goes on without.
        if (writing.exchange(false))
            print_fatal_line("%s: warning: no more checkpoints are kept for this run\n", current.program);
        return;
    }
    if (stop_after > 0 && ++commits == stop_after) {
        checkpoint::finish_writing();
        raise(SIGKILL);
    }
}

void take_up(const std::string& name, const std::vector<mpz_ptr>& integers, const std::vector<mpf_ptr>& floats) {
    if (checkpoint::read(current.program, current.dir, name, current.run, integers, floats)) return;
    std::exit(1);
}

bool usable_directory(const char* program, const std::string& dir) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "%s: cannot make the checkpoint directory %s: %s\n", program, dir.c_str(),
                     std::strerror(errno));
        return false;
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "%s: %s is not a directory\n", program, dir.c_str());
        return false;
    }
    // Written to before any work: a directory that takes no file is found now.
    const std::string probe = dir + "/.pi-probe.tmp";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || close(fd) != 0) {
        std::fprintf(stderr, "%s: cannot write in %s: %s\n", program, dir.c_str(), std::strerror(errno));
        return false;
    }
    unlink(probe.c_str());
    return true;
}

// What the directory's states leave to do, for the line that says so.
std::string from_where(const std::vector<std::string>& names) {
    const auto has = [&](const std::string& name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    if (has(VALUE)) return "pi done";
    std::string done;
    if (has(SPLIT)) {
        done = "the splitting";
    } else if (has(JOIN)) {
        done = "the splitting but its last two products";
    } else {
        // The nodes no other node held covers (a node is kept before its
        // halves are removed).
        unsigned long terms = 0;
        for (const Node& node : kept) {
            const auto held = [&](const Node& x) { return has(node_name(x.a, x.b)); };
            if (!held(node)) continue;
            bool covered = false;
            for (const Node& other : kept)
                covered |= held(other) && other.b - other.a > node.b - node.a && other.a <= node.a && node.b <= other.b;
            if (!covered) terms += node.b - node.a;
        }
        if (terms > 0)
            done = std::to_string(terms) + " of the splitting's " + std::to_string(current.terms) + " terms";
    }
    if (has(ROOT)) done += done.empty() ? "the square root" : " and the square root";
    return done + " done";
}

}  // namespace

bool checkpoints_start(const CheckpointRun& run) {
    current = run;
    kept.clear();
    narrowest = 0;
    find_kept(0, run.terms, 0, 0);
    if (const char* stop = std::getenv("PI_CHECKPOINT_KILL")) stop_after = std::atol(stop);
    if (!usable_directory(run.program, run.dir)) return false;
    checkpoint::remove_temporaries(run.dir);
    const std::vector<std::string> names = checkpoint::names(run.dir);
    if (!run.resume && !names.empty()) {
        std::fprintf(stderr, "%s: %s holds checkpoints already: --resume=%s goes on with their run\n", run.program,
                     run.dir.c_str(), run.dir.c_str());
        return false;
    }
    for (const std::string& name : names) {
        int integers, floats;
        if (!expected_numbers(name, &integers, &floats)) {
            std::fprintf(stderr, "%s: %s/%s is damaged or another run's checkpoint: refused\n", run.program,
                         run.dir.c_str(), name.c_str());
            return false;
        }
        if (!checkpoint::check(run.program, run.dir, name, run.run, integers, floats)) return false;
    }
    if (run.resume) {
        if (names.empty())
            std::fprintf(stderr, "%s: no checkpoint in %s yet: starting from the beginning\n", run.program,
                         run.dir.c_str());
        else
            std::fprintf(stderr, "%s: resuming from %s: %s\n", run.program, run.dir.c_str(), from_where(names).c_str());
    }
    on = true;
    return true;
}

bool checkpoints_on() { return on && !paused; }

CheckpointsPaused::CheckpointsPaused() : was_(paused) { paused = true; }
CheckpointsPaused::~CheckpointsPaused() { paused = was_; }

bool node_taken_up(mpz_t p, mpz_t q, mpz_t g, unsigned long a, unsigned long b, int gflag) {
    const Node* node = kept_node(a, b);
    const std::string name = node ? node_name(a, b) : std::string();
    if (!node || !checkpoint::exists(current.dir, name)) return false;
    if (gflag)
        take_up(name, {p, q, g}, {});
    else
        take_up(name, {p, q}, {});
    progress_taken_up(b - a);
    return true;
}

void node_done(const mpz_t p, const mpz_t q, const mpz_t g, unsigned long a, unsigned long b, int gflag) {
    if (!kept_node(a, b)) return;
    if (gflag)
        keep(node_name(a, b), {p, q, g}, {});
    else
        keep(node_name(a, b), {p, q}, {});
    // The halves' states are in this one now.
    const unsigned long m = (a + b) / 2;
    if (kept_node(a, m)) checkpoint::remove(current.dir, node_name(a, m));
    if (kept_node(m, b)) checkpoint::remove(current.dir, node_name(m, b));
}

bool checkpoints_root(unsigned long a, unsigned long b) { return checkpoints_on() && a == 0 && b == current.terms; }

bool join_taken_up(mpz_t p, mpz_t q, mpz_t p2, mpz_t q2) {
    if (!checkpoints_on() || !checkpoint::exists(current.dir, JOIN)) return false;
    take_up(JOIN, {p, q, p2, q2}, {});
    progress_taken_up(current.terms / 2);
    progress_taken_up(current.terms - current.terms / 2);
    return true;
}

void join_done(const mpz_t p, const mpz_t q, const mpz_t p2, const mpz_t q2) {
    if (!checkpoints_on()) return;
    keep(JOIN, {p, q, p2, q2}, {});
    // The halves' states are in this one now.
    const unsigned long m = current.terms / 2;
    checkpoint::remove(current.dir, node_name(0, m));
    checkpoint::remove(current.dir, node_name(m, current.terms));
}

bool split_taken_up(mpz_t p, mpz_t q) {
    if (!checkpoints_on() || !checkpoint::exists(current.dir, SPLIT)) return false;
    take_up(SPLIT, {p, q}, {});
    return true;
}

void split_done(const mpz_t p, const mpz_t q) {
    if (!checkpoints_on()) return;
    keep(SPLIT, {p, q}, {});
    for (const Node& node : kept) checkpoint::remove(current.dir, node_name(node.a, node.b));
    checkpoint::remove(current.dir, JOIN);
}

bool root_taken_up(mpf_t root) {
    if (!checkpoints_on() || !checkpoint::exists(current.dir, ROOT)) return false;
    take_up(ROOT, {}, {root});
    return true;
}

void root_done(const mpf_t root) { keep(ROOT, {}, {root}); }

bool pi_taken_up(mpf_t pi) {
    if (!checkpoints_on() || !checkpoint::exists(current.dir, VALUE)) return false;
    take_up(VALUE, {}, {pi});
    return true;
}

void pi_done(const mpf_t pi) {
    if (!checkpoints_on()) return;
    keep(VALUE, {}, {pi});
    checkpoint::remove(current.dir, SPLIT);
    checkpoint::remove(current.dir, ROOT);
}

void checkpoints_end(bool succeeded) {
    if (!on) return;
    checkpoint::finish_writing();
    if (!succeeded) return;
    for (const std::string& name : checkpoint::names(current.dir)) checkpoint::remove(current.dir, name);
    checkpoint::finish_writing();
}

}  // namespace series
