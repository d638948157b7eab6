#include "fatal_line.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<bool> line_painted{false};
}  // namespace

void note_painted_line(bool painted) { line_painted = painted; }

void print_fatal_line(const char* format, ...) {
    // Holding stderr keeps a repaint from coming between the erasure and the
    // line.
    flockfile(stderr);
    if (line_painted) std::fputs("\r\033[K", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    funlockfile(stderr);
}
