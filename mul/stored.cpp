#include "stored.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "checksum.h"
#include "mul.h"

namespace mul {

namespace {

std::atomic<std::uint64_t> read_total{0}, written_total{0};

// A block's check where the processor has no CRC instruction (or the
// engine runs its portable set): the 64-bit polynomial checksum of its
// index and limbs, about 1.7 GB/s.
Stored::Check polynomial_check(std::size_t index, const mp_limb_t* p, std::size_t n) {
    Checksum sum;
    const std::uint64_t at = index;
    sum.update(&at, sizeof at);
    sum.update(p, n * sizeof(mp_limb_t));
    return {sum.finish_value(), 0};
}

#if defined(__x86_64__)
// With SSE4.2: four CRC-32C of the block's quarters side by side, seeded
// with the block's index, about 8 bytes a cycle. Each quarter's CRC finds
// every error burst of up to 32 bits and passes other damage about once in
// 2^32.
__attribute__((target("sse4.2"))) Stored::Check crc_check(std::size_t index, const mp_limb_t* p, std::size_t n) {
    const std::size_t q = n / 4;
    unsigned long long c[4];
    for (unsigned j = 0; j < 4; ++j) c[j] = ~static_cast<std::uint32_t>(4 * index + j);
    for (std::size_t i = 0; i < q; ++i) {
        c[0] = __builtin_ia32_crc32di(c[0], p[i]);
        c[1] = __builtin_ia32_crc32di(c[1], p[q + i]);
        c[2] = __builtin_ia32_crc32di(c[2], p[2 * q + i]);
        c[3] = __builtin_ia32_crc32di(c[3], p[3 * q + i]);
    }
    for (std::size_t i = 4 * q; i < n; ++i) c[3] = __builtin_ia32_crc32di(c[3], p[i]);
    return {c[0] | c[1] << 32, c[2] | c[3] << 32};
}

bool has_crc() {
    static const bool crc = __builtin_cpu_supports("sse4.2");
    return crc && std::strcmp(instructions(), "portable") != 0;
}
#else
bool has_crc() { return false; }
#endif

}  // namespace

Stored::Stored(const std::string& dir, std::size_t size, std::size_t block)
    : dir_(dir), size_(size), block_(block < 1 ? 1 : block), crc_(has_crc()) {
    std::string name = dir_ + "/.scratch-XXXXXX";
    fd_ = mkstemp(name.data());
    if (fd_ < 0) fail("cannot make a scratch file");
    unlink(name.c_str());
    if (ftruncate(fd_, static_cast<off_t>(size_ * sizeof(mp_limb_t))) != 0) fail("cannot size a scratch file");
    const std::size_t blocks = (size_ + block_ - 1) / block_;
    sums_.resize(blocks);
    // A new file reads as zeros: its blocks' sums are those of zero blocks.
    std::vector<mp_limb_t> zeros(std::min(size_, block_), 0);
    for (std::size_t b = 0; b < blocks; ++b) sums_[b] = check(b, zeros.data());
}

Stored::~Stored() {
    if (fd_ >= 0) close(fd_);
}

Stored::Check Stored::check(std::size_t b, const mp_limb_t* p) const {
#if defined(__x86_64__)
    if (crc_) return crc_check(b, p, limbs_in(b));
#endif
    return polynomial_check(b, p, limbs_in(b));
}

std::size_t Stored::limbs_in(std::size_t b) const { return std::min(block_, size_ - b * block_); }

void Stored::fail(const char* what) const {
    const int error = errno;
    throw StoreError(dir_ + ": " + what + (error ? std::string(": ") + std::strerror(error) : std::string()));
}

void Stored::read_block(std::size_t b, mp_limb_t* to) const {
    const std::size_t bytes = limbs_in(b) * sizeof(mp_limb_t);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t got = pread(fd_, reinterpret_cast<char*>(to) + done, bytes - done,
                                  static_cast<off_t>(b * block_ * sizeof(mp_limb_t) + done));
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) errno = EIO;  // the file is shorter than written
        if (got <= 0) fail("cannot read a scratch file back");
        done += static_cast<std::size_t>(got);
    }
    read_total += bytes;
    errno = 0;
    if (check(b, to) != sums_[b]) fail("a scratch file read back damaged");
}

void Stored::write_block(std::size_t b, const mp_limb_t* p) {
    const std::size_t bytes = limbs_in(b) * sizeof(mp_limb_t);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t put = pwrite(fd_, reinterpret_cast<const char*>(p) + done, bytes - done,
                                   static_cast<off_t>(b * block_ * sizeof(mp_limb_t) + done));
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = ENOSPC;  // nothing written: no room
        if (put <= 0) fail("cannot write a scratch file");
        done += static_cast<std::size_t>(put);
    }
    written_total += bytes;
    sums_[b] = check(b, p);
}

void Stored::read(std::ptrdiff_t from, std::size_t count, mp_limb_t* to) const {
    // The part outside [0, size) is zero.
    const std::ptrdiff_t end = from + static_cast<std::ptrdiff_t>(count);
    const std::size_t lo = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(from, 0, static_cast<std::ptrdiff_t>(size_)));
    const std::size_t hi = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(end, 0, static_cast<std::ptrdiff_t>(size_)));
    if (hi <= lo) {
        std::fill(to, to + count, 0);
        return;
    }
    std::fill(to, to + (lo - from), 0);
    std::fill(to + (hi - from), to + count, 0);
    for (std::size_t b = lo / block_; b * block_ < hi; ++b) {
        const std::size_t first = b * block_, last = first + limbs_in(b);
        mp_limb_t* at = to + (std::max(first, lo) - from);
        if (first >= lo && last <= hi) {
            read_block(b, at);
        } else {
            thread_local std::vector<mp_limb_t> part;
            part.resize(block_);
            read_block(b, part.data());
            const std::size_t a = std::max(first, lo), z = std::min(last, hi);
            std::copy(part.data() + (a - first), part.data() + (z - first), at);
        }
    }
}

void Stored::write(std::size_t from, std::size_t count, const mp_limb_t* p) {
    const std::size_t end = from + count;
    for (std::size_t b = from / block_; b * block_ < end; ++b) {
        const std::size_t first = b * block_, last = first + limbs_in(b);
        const mp_limb_t* at = p + (std::max(first, from) - from);
        if (first >= from && last <= end) {
            write_block(b, at);
        } else {
            std::vector<mp_limb_t>& part = buffer_;
            part.resize(block_);
            read_block(b, part.data());
            const std::size_t a = std::max(first, from), z = std::min(last, end);
            std::copy(at, at + (z - a), part.data() + (a - first));
            write_block(b, part.data());
        }
    }
}

void read_span(const Span& s, std::ptrdiff_t from, std::size_t count, mp_limb_t* to) {
    const std::ptrdiff_t size = static_cast<std::ptrdiff_t>(s.size), end = from + static_cast<std::ptrdiff_t>(count);
    const std::ptrdiff_t lo = std::clamp<std::ptrdiff_t>(from, 0, size), hi = std::clamp<std::ptrdiff_t>(end, 0, size);
    std::fill(to, to + count, 0);
    if (hi > lo)
        s.number->read(static_cast<std::ptrdiff_t>(s.from) + lo, static_cast<std::size_t>(hi - lo), to + (lo - from));
}

std::uint64_t Stored::bytes_read() { return read_total; }
std::uint64_t Stored::bytes_written() { return written_total; }

void Stored::damage(std::size_t at) {
    unsigned char byte = 0;
    const off_t offset = static_cast<off_t>(at * sizeof(mp_limb_t));
    if (pread(fd_, &byte, 1, offset) != 1) fail("cannot read a scratch file back");
    byte ^= 0x10;
    if (pwrite(fd_, &byte, 1, offset) != 1) fail("cannot write a scratch file");
}

}  // namespace mul
