#pragma once
// The one file a run creates that must not outlive it unfinished (the
// digits' temporary): removed where the run ends early, by SIGINT, SIGTERM
// or SIGHUP (then the signal's own end follows, with its usual status) or
// by a fatal exit (out of memory).

// From now on the file named path (at most 4095 bytes; nullptr: none) is
// unfinished; the text is copied.
void set_unfinished_file(const char* path);

// Removes it, if any; safe in a signal handler.
void remove_unfinished_file();

// SIGINT, SIGTERM and SIGHUP remove it first, where they would end the
// process (a signal the process ignores stays ignored).
void remove_unfinished_file_on_signals();
