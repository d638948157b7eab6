// The engine against GMP: products of random operands of n and n limbs
// (balanced), 4n and n (unbalanced) and squares of n limbs, by mpn_mul or
// mpn_sqr, by the engine on one thread and on every core, interleaved round
// by round; every engine product is compared with GMP's. Prints one line per
// case and method with the median seconds, for bench/mul.py.
//
//   mul_bench ROUNDS THREADS N...   (Nb: the balanced product and the square alone)
//
// MUL_INSTRUCTIONS=avx2 (or portable) times another instruction set than
// the processor's best, as an AVX-512 machine runs the AVX2 kernels most
// processors have.

#include <gmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mul.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Case {
    std::string shape;
    std::size_t an, bn;
    bool square;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s ROUNDS THREADS N...\n", argv[0]);
        return 1;
    }
    const int rounds = std::atoi(argv[1]), threads = std::atoi(argv[2]);
    std::vector<Case> cases;
    for (int i = 3; i < argc; ++i) {
        // N, or Nb for the balanced product and the square alone.
        char* end = nullptr;
        const std::size_t n = std::strtoull(argv[i], &end, 10);
        cases.push_back({"balanced", n, n, false});
        if (*end != 'b') cases.push_back({"1:4", 4 * n, n, false});
        cases.push_back({"square", n, n, true});
    }
    const char* wanted = std::getenv("MUL_INSTRUCTIONS");
    if (wanted && !mul::use_instructions(wanted)) {
        std::fprintf(stderr, "mul_bench: no %s kernels on this processor\n", wanted);
        return 1;
    }
    gmp_randstate_t state;
    gmp_randinit_default(state);
    std::printf("# instructions %s\n", mul::instructions());
    for (const Case& c : cases) {
        std::vector<mp_limb_t> a(c.an), b(c.bn), expected(c.an + c.bn), got(c.an + c.bn);
        mpn_random(a.data(), static_cast<mp_size_t>(c.an));
        mpn_random(b.data(), static_cast<mp_size_t>(c.bn));
        // Short products are timed in batches of about 20 ms.
        const auto gmp = [&] {
            if (c.square)
                mpn_sqr(expected.data(), a.data(), static_cast<mp_size_t>(c.an));
            else
                mpn_mul(expected.data(), a.data(), static_cast<mp_size_t>(c.an), b.data(),
                        static_cast<mp_size_t>(c.bn));
        };
        const auto engine = [&](int t) {
            if (c.square)
                mul::sqr(got.data(), a.data(), c.an, t);
            else
                mul::mul(got.data(), a.data(), c.an, b.data(), c.bn, t);
        };
        auto start = std::chrono::steady_clock::now();
        gmp();
        const double once = std::max(seconds_since(start), 1e-7);
        const int batch = std::max(1, static_cast<int>(0.02 / once));
        std::vector<double> times[3];
        for (int round = 0; round < rounds; ++round) {
            for (int method = 0; method < 3; ++method) {
                start = std::chrono::steady_clock::now();
                for (int i = 0; i < batch; ++i) {
                    if (method == 0)
                        gmp();
                    else
                        engine(method == 1 ? 1 : threads);
                }
                times[method].push_back(seconds_since(start) / batch);
                if (method > 0 && std::memcmp(got.data(), expected.data(), got.size() * sizeof(mp_limb_t))) {
                    std::fprintf(stderr, "mul_bench: %s %zu x %zu: the engine's product differs from GMP's\n",
                                 c.shape.c_str(), c.an, c.bn);
                    return 1;
                }
            }
        }
        std::printf("%s %zu %zu %.9g %.9g %.9g %d\n", c.shape.c_str(), c.an, c.bn, median(times[0]),
                    median(times[1]), median(times[2]), mul::uses_transform(c.an, c.bn) ? 1 : 0);
        std::fflush(stdout);
    }
    if (mul::failed_checks() != 0) {
        std::fprintf(stderr, "mul_bench: %llu products failed their check\n",
                     static_cast<unsigned long long>(mul::failed_checks()));
        return 1;
    }
    gmp_randclear(state);
    return 0;
}
