#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <exception>
#include <thread>

#include "fatal_line.h"

namespace series {

namespace progress_detail {
std::atomic<bool> shown{false};
std::atomic<unsigned long long> done{0};
}  // namespace progress_detail

namespace {

using namespace progress_detail;

const char* program_name = "";
unsigned long long total = 1;  // terms times levels of the tree
std::atomic<const char*> step{nullptr};

std::mutex mutex;
std::condition_variable wake;
bool stopping = false, painted = false;
std::thread painter;

bool terminal_is_ours() { return in_foreground(tcgetpgrp(STDERR_FILENO), getpgrp()); }

// Paints only in the foreground, checked every time: the job may be moved
// between foreground and background while it runs.
void paint() {
    if (!terminal_is_ours()) return;
    const char* now = step.load();
    if (now)
        std::fprintf(stderr, "\r\033[K%s: %s", program_name, now);
    else
        std::fprintf(stderr, "\r\033[K%s: binary splitting %3.0f%%", program_name,
                     100.0 * static_cast<double>(done.load()) / static_cast<double>(total));
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
    unsigned long levels = 0;
    for (unsigned long width = 1; width < terms; width *= 2) ++levels;
    total = static_cast<unsigned long long>(terms) * levels;
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
