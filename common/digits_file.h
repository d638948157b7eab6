#pragma once
// The digits a user can diff: "3." and exactly the requested number of
// decimals of pi, truncated, then a line end, written to a file.
//
// Truncation needs more than the value: a value within 10^-(d+1) of pi
// settles the d-th decimal unless the decimals after it form a run of 0s or
// 9s that the error could carry across. settled_decimals says when it
// cannot tell, and the caller computes pi again with more digits; no
// doubtful digit is ever written.

#include <gmp.h>

#include <string>

// "3." and the first `decimals` decimals of pi, truncated, from x > 0 with
// |x - pi| < 10^-bound (bound > decimals); empty where that bound leaves
// the last decimal open.
std::string settled_decimals(const mpf_t x, long long decimals, long long bound);

// The same from the digit line mpf_out_str wrote for x with decimals + 2
// significant digits ("0.314…e1"), where it settles them: that line is x
// 10^(decimals + 1) rounded, within 1.5 units even where the library's
// rounding errs by one, so where its last digit is 3 to 7, x 10^decimals
// lies at least 0.15 from a carry either way, beyond settled_decimals'
// bound of 0.1, and its floor is the line's first digits. Empty where the
// line does not settle them (or is not pi's form); a run then settles them
// from the value.
std::string decimals_from_digit_line(const std::string& line, long long decimals);

// Decimals past the count asked for with which a run that could not settle
// its digits computes pi again: a run of 0s or 9s that long after the last
// decimal is as rare as 10^-20.
constexpr long long RETRY_EXTRA_DIGITS = 20;

// The file of --out, made ready before the computation so that a path that
// cannot be written is refused at once, and written at its end.
//
// A regular file, or a name where none is, is replaced whole: the text goes
// to a temporary beside it (beside a symbolic link's target, so that the
// link stays and its target gets the digits), unnamed where the file system
// allows, else under a unique hidden name, and takes the file's name only
// once complete and on disk; a file replaced keeps its permission bits, and
// an interrupted run leaves it as it was. Anything else (a device, a FIFO,
// a terminal) is written directly, never replaced.
class DigitsFile {
public:
    DigitsFile() = default;
    ~DigitsFile();  // a temporary not yet the file's is removed
    DigitsFile(const DigitsFile&) = delete;
    DigitsFile& operator=(const DigitsFile&) = delete;

    // Makes path ready for `bytes` bytes. Where it cannot be written, or
    // its file system lacks the room, one line on stderr naming the path
    // that failed, and false.
    bool open(const char* program, const char* path, unsigned long long bytes);

    // Writes text and a line end. On failure one line on stderr naming the
    // path and the error, and false; a file to be replaced is then as it was.
    bool write(const std::string& text);

    // After write: the SHA-256 of what was written, as sha256sum prints it.
    const std::string& sha256() const { return sha256_; }

private:
    bool fail(const char* what, const std::string& path, int error);
    bool link_in();

    const char* program_ = "";
    std::string path_;        // as the user gave it
    std::string target_;      // the file replaced: path_ with its links followed
    std::string temporary_;   // the temporary's name, where it has one
    int fd_ = -1;             // the temporary, open from open() on
    bool direct_ = false;     // written directly, not replaced
    bool unnamed_ = false;    // the temporary has no name yet
    bool replaces_ = false;   // a regular file stands at target_
    unsigned mode_ = 0;       // its permission bits
    unsigned uid_ = 0, gid_ = 0;
    std::string sha256_;
};

// The last line of a run with --out, on stderr: the file's SHA-256 (what
// sha256sum prints for it) and its last 20 digits, for comparing runs.
void print_file_summary(const char* program, const char* path, const DigitsFile& file, const std::string& text);
