#pragma once
// Whether everything the program wrote to standard output arrived: digits
// lost to a full disk or a closed descriptor must not end in success.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fatal_line.h"

// Flushes standard output. Where that or an earlier write failed, prints one
// line on stderr naming the error and returns false. Call it last: the error
// flag it reads stays set from the first failed write on.
inline bool standard_output_complete(const char* program) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout)) return true;
    // The last line is always still buffered here, so the flush retries and
    // errno names the cause; EIO stands in should it not.
    const int error = errno != 0 ? errno : EIO;
    print_fatal_line("%s: cannot write standard output: %s\n", program, std::strerror(error));
    return false;
}
