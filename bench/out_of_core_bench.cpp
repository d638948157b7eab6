// The product of two random N-limb numbers, kept on disk in DIR and made
// within a budget of MIB MiB, or (MIB 0) made by the engine in memory:
// wall and CPU seconds, and the bytes the scratch files read and wrote.
// Run each mode in its own process, under /usr/bin/time -v for its peak.
// MUL_INSTRUCTIONS=avx2 (or portable) times another instruction set than
// the processor's best.
//
//   out_of_core_bench N MIB DIR THREADS

#include <gmp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "mul.h"
#include "out_of_core.h"

namespace {

// Random limbs from a fixed start, in pieces: xorshift, no memory held.
struct Random {
    std::uint64_t x = 0x9e3779b97f4a7c15ull;
    mp_limb_t next() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: out_of_core_bench N MIB DIR THREADS\n");
        return 2;
    }
    const std::size_t n = std::strtoull(argv[1], nullptr, 10), mib = std::strtoull(argv[2], nullptr, 10);
    const int threads = std::atoi(argv[4]);
    const char* wanted = std::getenv("MUL_INSTRUCTIONS");
    if (wanted && !mul::use_instructions(wanted)) {
        std::fprintf(stderr, "out_of_core_bench: no %s kernels on this processor\n", wanted);
        return 1;
    }
    Random random;
    std::clock_t cpu = 0;
    try {
        if (mib == 0) {
            std::vector<mp_limb_t> a(n), b(n), r(2 * n);
            for (auto& x : a) x = random.next();
            for (auto& x : b) x = random.next();
            const auto start = std::chrono::steady_clock::now();
            cpu = std::clock();
            mul::mul(r.data(), a.data(), n, b.data(), n, threads);
            cpu = std::clock() - cpu;
            std::printf("memory %zu limbs: %.2f s wall, %.2f s CPU\n", n,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                        static_cast<double>(cpu) / CLOCKS_PER_SEC);
            return 0;
        }
        mul::Stored a(argv[3], n), b(argv[3], n), r(argv[3], 2 * n);
        std::vector<mp_limb_t> piece(mul::STORED_BLOCK);
        for (mul::Stored* s : {&a, &b})
            for (std::size_t i = 0; i < n; i += piece.size()) {
                const std::size_t c = std::min(piece.size(), n - i);
                for (std::size_t j = 0; j < c; ++j) piece[j] = random.next();
                s->write(i, c, piece.data());
            }
        const std::uint64_t read0 = mul::Stored::bytes_read(), written0 = mul::Stored::bytes_written();
        const auto start = std::chrono::steady_clock::now();
        cpu = std::clock();
        mul::mul_stored(r, {&a, 0, n}, {&b, 0, n}, {mib << 20, threads});
        cpu = std::clock() - cpu;
        std::printf("disk %zu limbs within %zu MiB: %.2f s wall, %.2f s CPU, %.2f GB read, %.2f GB written\n", n, mib,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    static_cast<double>(cpu) / CLOCKS_PER_SEC, (mul::Stored::bytes_read() - read0) / 1e9,
                    (mul::Stored::bytes_written() - written0) / 1e9);
    } catch (const mul::StoreError& e) {
        std::fprintf(stderr, "out_of_core_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
