#pragma once
// A run's progress on a terminal: while standard error is a terminal and the
// process is in its foreground, a line there shows the splitting's share done,
// then the final step under way, each with an estimate of the time left once
// one can be made, at most four times a second, and is erased when the run
// stops it. Where standard error is not a terminal nothing is
// written; in the background nothing is painted, so that the job neither
// paints over the shell nor stops for terminal output.

#include <sys/types.h>

#include <atomic>

namespace series {

namespace progress_detail {
extern std::atomic<bool> shown;
extern std::atomic<unsigned long long> done;
extern std::atomic<unsigned long long> taken_up;
}  // namespace progress_detail

// Whether a process of group own_group may paint on a terminal whose
// foreground group is terminal_group (-1 where that could not be read).
inline bool in_foreground(pid_t terminal_group, pid_t own_group) {
    return terminal_group != -1 && terminal_group == own_group;
}

// Starts the display for a splitting of `terms` terms, if standard error is
// a terminal.
void progress_start(const char* program, unsigned long terms);

// The levels of a splitting of `terms` terms: ceil(log2 terms).
inline unsigned long progress_levels(unsigned long terms) {
    unsigned long levels = 0;
    for (unsigned long width = 1; width < terms; width *= 2) ++levels;
    return levels;
}

// Counts a finished combination of the node (a, a + terms]. Its products
// cost about terms times their length's logarithm (the transforms' and
// GMP's long products alike), so each counts terms times its level above
// the leaves, and the sum measures the splitting's share done.
inline void progress_combined(unsigned long terms) {
    if (progress_detail::shown.load(std::memory_order_relaxed))
        progress_detail::done.fetch_add(static_cast<unsigned long long>(terms) * progress_levels(terms),
                                        std::memory_order_relaxed);
}

// The count of a whole splitting of `terms` terms: each level's terms times
// its level.
inline unsigned long long progress_work(unsigned long terms) {
    const unsigned long long levels = progress_levels(terms);
    return static_cast<unsigned long long>(terms) * levels * (levels + 1) / 2;
}

// Counts a node of `terms` terms taken up whole from a checkpoint: every
// combination below it, made by the stopped run.
inline void progress_taken_up(unsigned long terms) {
    if (!progress_detail::shown.load(std::memory_order_relaxed)) return;
    progress_detail::taken_up.fetch_add(progress_work(terms), std::memory_order_relaxed);
    progress_detail::done.fetch_add(progress_work(terms), std::memory_order_relaxed);
}

// Names the step under way once the splitting is done ("square root", ...).
void progress_step(const char* step);

// Erases the line and stops the display; the report may follow.
void progress_stop();

}  // namespace series
