#pragma once
// Scratch memory for the transform, and for the conversion to decimal that
// is built on it: blocks from GMP's allocator, so that a program's
// out-of-memory handling covers them too. The last transform block released
// is kept for the next product: a fresh block's pages cost the system their
// zeroing, about a fifth of a long product's time. A kept block smaller
// than a product needs is released first, so the scratch alive stays one
// product's.

#include <cstddef>

namespace mul {

// Bytes from GMP's allocator, and back to it with their count.
void* allocate_block(std::size_t bytes);
void release_block(void* data, std::size_t bytes);

// A transform's scratch: the kept block where it is large enough, else a new
// one, with huge pages asked for; kept again at its end (see
// keep_or_release).
struct Block {
    double* data = nullptr;
    std::size_t bytes = 0;
    explicit Block(std::size_t doubles);
    ~Block();
    Block(Block&& other) noexcept : data(other.data), bytes(other.bytes) { other.data = nullptr; }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    Block& operator=(Block&&) = delete;
};

// A scratch block done with: kept for the next product unless the kept one
// is at least as large.
void keep_or_release(double* data, std::size_t bytes);

}  // namespace mul
