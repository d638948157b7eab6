#pragma once
// What a run that ends early leaves: the one file it creates that must not
// outlive it unfinished (the digits' temporary) is removed, and where the
// run can be resumed a last line on stderr says how. Early is by SIGINT,
// SIGTERM or SIGHUP (then the signal's own end follows, with its usual
// status) or by a fatal exit (out of memory).

// From now on the file named path (at most 4095 bytes; nullptr: none) is
// unfinished; the text is copied.
void set_unfinished_file(const char* path);

// Removes it, if any; safe in a signal handler.
void remove_unfinished_file();

// From now on the run can be resumed, as the line (at most 4095 bytes, its
// "\n" included; copied) says.
void set_resume_line(const char* line);

// Writes that line on stderr, if any; safe in a signal handler.
void print_resume_line();

// SIGINT, SIGTERM and SIGHUP remove the file and print the line first, where they would end the
// process (a signal the process ignores stays ignored).
void remove_unfinished_file_on_signals();
