#pragma once
// Lines that end a run (out of memory, output lost) start at the margin: a
// progress line standing on standard error is erased first.

// Told by a progress display whether a line it painted stands on standard
// error, unfinished.
void note_painted_line(bool painted);

// Prints one line on stderr, as printf would, after erasing a painted
// progress line.
void print_fatal_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
