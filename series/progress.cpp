#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "fatal_line.h"

namespace series {

namespace progress_detail {
std::atomic<bool> shown{false};
std::atomic<unsigned long long> done{0};
std::atomic<unsigned long long> taken_up{0};
}  // namespace progress_detail

namespace {

using namespace progress_detail;

const char* program_name = "";
unsigned long long total = 1;  // progress_work of the splitting
std::atomic<const char*> step{nullptr};

std::mutex mutex;
std::condition_variable wake;
bool stopping = false, painted = false;
std::thread painter;

using Clock = std::chrono::steady_clock;
Clock::time_point started, split_ended;
const char* step_seen = nullptr;  // the painter's: the step it last saw

// The final steps took 9 to 19 % of the splitting's time at 10^7 to 10^8
// digits, with and without --fast and threads: the estimate takes 15 %.
constexpr double FINAL_STEPS_SHARE = 0.15;
// No estimate before this share of the splitting is made here, nor before
// this many seconds: the first nodes say little of the rate.
constexpr double ESTIMATE_FROM_SHARE = 0.03, ESTIMATE_FROM_SECONDS = 2;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// ", about 3 min 20 s left", or nothing where the time cannot be told yet.
std::string time_left(double seconds) {
    if (!(seconds >= 0) || seconds > 1e7) return "";
    const long s = static_cast<long>(seconds + 0.5);
    char text[64];
    if (s < 60)
        std::snprintf(text, sizeof text, ", about %ld s left", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, ", about %ld min %ld s left", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, ", about %ld h %ld min left", s / 3600, s / 60 % 60);
    return text;
}

// The time left: during the splitting from its rate so far (the terms taken
// up from checkpoints not counted as made), and the final steps as a share
// of it; after it, what that share leaves.
std::string estimate(const char* now) {
    const double elapsed = seconds_since(started);
    if (now) {
        if (step_seen == nullptr) split_ended = Clock::now();
        step_seen = now;
        const double split_seconds = std::chrono::duration<double>(split_ended - started).count();
        if (split_seconds < ESTIMATE_FROM_SECONDS) return "";
        return time_left(FINAL_STEPS_SHARE * split_seconds - seconds_since(split_ended));
    }
    const double made = static_cast<double>(done.load() - taken_up.load()) / static_cast<double>(total);
    const double left = 1 - static_cast<double>(done.load()) / static_cast<double>(total);
    if (made < ESTIMATE_FROM_SHARE || elapsed < ESTIMATE_FROM_SECONDS) return "";
    const double split_seconds = elapsed / made;
    return time_left(split_seconds * left + FINAL_STEPS_SHARE * (elapsed + split_seconds * left));
}

bool terminal_is_ours() { return in_foreground(tcgetpgrp(STDERR_FILENO), getpgrp()); }

// Paints only in the foreground, checked every time: the job may be moved
// between foreground and background while it runs.
void paint() {
    if (!terminal_is_ours()) return;
    const char* now = step.load();
    const std::string left = estimate(now);
    if (now)
        std::fprintf(stderr, "\r\033[K%s: %s%s", program_name, now, left.c_str());
    else
        std::fprintf(stderr, "\r\033[K%s: binary splitting %3.0f%%%s", program_name,
                     100.0 * static_cast<double>(done.load()) / static_cast<double>(total), left.c_str());
    std::fflush(stderr);
    painted = true;
    note_painted_line(true);
}

// Repaints every quarter second until stopped; the first paint waits too, so
// that short runs show nothing.
void paint_until_stopped() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, std::chrono::milliseconds(250), [] { return stopping; })) paint();
}

}  // namespace

void progress_start(const char* program, unsigned long terms) {
    if (!isatty(STDERR_FILENO) || terms < 2) return;
    program_name = program;
    total = progress_work(terms);
    started = Clock::now();
    try {
        painter = std::thread(paint_until_stopped);
    } catch (const std::exception&) {
        return;  // no thread, no display
    }
    shown = true;
}

void progress_step(const char* name) { step = name; }

void progress_stop() {
    if (!shown) return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    painter.join();
    shown = false;
    if (painted && terminal_is_ours()) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    note_painted_line(false);
}

}  // namespace series
