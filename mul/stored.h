#pragma once
// A long number kept on disk: its limbs in a file of its own under a
// directory, in blocks whose checks (CRC-32C where the processor has it,
// else a 64-bit checksum) stay in memory and are verified at every read, so that a read that does not return what was written is an
// error, never a wrong limb. The file is unlinked as soon as it is made: it
// is gone when the number is, or when the process ends, however it ends.

#include <gmp.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace mul {

// A scratch file that cannot be made, written or read back whole and
// intact; what() is one line naming the directory.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Limbs a block by default: 512 KiB, long enough that a read costs about
// its transfer, short enough that the blocks touched in part cost little.
constexpr std::size_t STORED_BLOCK = std::size_t{1} << 16;

class Stored {
public:
    // `size` limbs, all zero, in blocks of `block` limbs; throws StoreError.
    Stored(const std::string& dir, std::size_t size, std::size_t block = STORED_BLOCK);
    ~Stored();
    Stored(const Stored&) = delete;
    Stored& operator=(const Stored&) = delete;

    std::size_t size() const { return size_; }
    std::size_t block() const { return block_; }
    const std::string& dir() const { return dir_; }

    // Limbs [from, from + count) into `to`; limbs outside [0, size) read as
    // zero (from may be negative). Each block touched is checked. Threads
    // may read at once, while none writes.
    void read(std::ptrdiff_t from, std::size_t count, mp_limb_t* to) const;
    // Limbs [from, from + count) from `p`, from + count <= size. Threads may
    // write at once where each writes whole blocks of its own (the last
    // block is whole at its end); else one thread, with no reader.
    void write(std::size_t from, std::size_t count, const mp_limb_t* p);

    // Bytes read and written since start-up, by every stored number.
    static std::uint64_t bytes_read();
    static std::uint64_t bytes_written();

    // A block's check value.
    struct Check {
        std::uint64_t low, high;
        bool operator!=(const Check& other) const { return low != other.low || high != other.high; }
    };

    // Tests: flips a bit of the limb at `at` in the file, behind the
    // checksums' back.
    void damage(std::size_t at);

private:
    std::size_t limbs_in(std::size_t b) const;
    Check check(std::size_t b, const mp_limb_t* p) const;
    void read_block(std::size_t b, mp_limb_t* to) const;
    void write_block(std::size_t b, const mp_limb_t* p);
    [[noreturn]] void fail(const char* what) const;

    std::string dir_;
    int fd_ = -1;
    std::size_t size_, block_;
    bool crc_;  // the blocks' checks by CRC-32C, chosen when made
    std::vector<Check> sums_;
    std::vector<mp_limb_t> buffer_;  // one block, for blocks written in part
};

// Limbs [from, from + size) of a stored number.
struct Span {
    const Stored* number;
    std::size_t from, size;
};

// Limbs [from, from + count) of a span into `to`, zero outside it (from may
// be negative).
void read_span(const Span& s, std::ptrdiff_t from, std::size_t count, mp_limb_t* to);

}  // namespace mul
