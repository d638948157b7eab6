#pragma once
// A run's state kept in files of a directory, for a run that is stopped to
// go on where it stopped. Each file is written beside its name, synced and
// renamed into place (a file under its name is always whole), names the
// run it belongs to, and ends with a 64-bit checksum of everything before
// it (checksum.h: memory speed, where SHA-256 took a tenth of a run's time
// at 10^8 digits): a damaged or foreign file is refused, never read as
// state.
//
// A file: "pi-checkpoint 1\n", the run's line, the state's name line, the
// count of its numbers as a line, the numbers, each as its signed size and
// exponent (64-bit, little-endian; the exponent 0 for an integer) and its
// limbs, then the 16 hexadecimal digits of the checksum and "\n".

#include <gmp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checksum.h"

namespace checkpoint {

// Writes the file `name` in dir: its `count` numbers added in order, the
// integers first, then commit().
// Until then the file's name is untouched; a writer dropped uncommitted
// leaves nothing behind.
class Writer {
public:
    Writer(const std::string& dir, const std::string& name, const std::string& run, int count);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    void add(const mpz_t x);
    void add(const mpf_t x);
    // Hands the file to a thread of the module's that syncs it and renames
    // it into place, in the order committed, while the caller goes on.
    // False, with one line on stderr naming the file, where it could not be
    // written, or where an earlier file could not be finished.
    bool commit(const char* program);

private:
    void put(const void* data, std::size_t bytes);
    void put_number(long long size, long long exp, const mp_limb_t* limbs);
    std::string dir_, name_, temporary_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    Checksum hash_;
};

// Checks the file `name` in dir whole: that it is a checkpoint of `run` with
// these counts of integers and floats, and that its hash holds. Else one
// line on stderr naming it, and false.
bool check(const char* program, const std::string& dir, const std::string& name, const std::string& run,
           int integers, int floats);

// Reads the numbers of a file check() passed, in the order written, into
// the caller's numbers (the floats made with the precision the file was
// written from). False, with one line, where the file changed since or
// a number does not fit; the numbers read are then not to be used.
bool read(const char* program, const std::string& dir, const std::string& name, const std::string& run,
          const std::vector<mpz_ptr>& integers, const std::vector<mpf_ptr>& floats);

// The names of the checkpoint files in dir (those starting "pi-"), sorted; and
// whether dir has one called name.
std::vector<std::string> names(const std::string& dir);
bool exists(const std::string& dir, const std::string& name);

// Removes the file `name` from dir, after every file committed before
// (where one of those replaces it, never before it is in place); and, at
// once, any temporary left by a writer that was stopped.
void remove(const std::string& dir, const std::string& name);
void remove_temporaries(const std::string& dir);

// Waits until every file committed is in place and every removal asked for
// is done.
void finish_writing();

}  // namespace checkpoint
