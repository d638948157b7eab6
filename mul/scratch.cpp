#include "scratch.h"

#include <gmp.h>
#include <sys/mman.h>

#include <cstdint>
#include <mutex>

#include "mul.h"

namespace mul {

namespace {

std::mutex kept_mutex;
double* kept = nullptr;
std::size_t kept_bytes = 0;

// The four-step passes stride across the whole block, one 64-byte row per
// 4 KiB page and more: with small pages nearly every row misses the
// translation buffers. Huge pages, where the system gives them on request.
void ask_for_huge_pages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t HUGE = std::uintptr_t{1} << 21;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(data) + HUGE - 1) & ~(HUGE - 1),
                         to = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(HUGE - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace

void* allocate_block(std::size_t bytes) {
    void* (*allocate)(size_t);
    mp_get_memory_functions(&allocate, nullptr, nullptr);
    return allocate(bytes);
}

void release_block(void* data, std::size_t bytes) {
    void (*release)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(data, bytes);
}

void keep_or_release(double* data, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept && kept_bytes >= bytes) {
        release_block(data, bytes);
    } else {
        if (kept) release_block(kept, kept_bytes);
        kept = data;
        kept_bytes = bytes;
    }
}

Block::Block(std::size_t doubles) : bytes(doubles * sizeof(double)) {
    {
        std::lock_guard<std::mutex> lock(kept_mutex);
        if (kept && kept_bytes >= bytes) {
            data = kept;
            bytes = kept_bytes;
            kept = nullptr;
            return;
        }
        if (kept) release_block(kept, kept_bytes);
        kept = nullptr;
    }
    data = static_cast<double*>(allocate_block(bytes));
    ask_for_huge_pages(data, bytes);
}

Block::~Block() {
    if (data) keep_or_release(data, bytes);
}

void release_kept_scratch() {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept) release_block(kept, kept_bytes);
    kept = nullptr;
    kept_bytes = 0;
}

}  // namespace mul
