#include "twiddles.h"

#include <mutex>
#include <vector>

#include "plan.h"
#include "primes.h"

namespace mul {

Twiddles twiddles(int q, int k, bool inverse) {
    static std::mutex mutex;
    static std::vector<double> made[MAX_PRIMES][MAX_K + 1][2];
    const int row_bits = k / 2;
    prepare_roots(k - row_bits);  // the longer sub-transform, C = 2^(k - row_bits)
    const std::size_t R = std::size_t{1} << row_bits;
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<double>& table = made[q][k][inverse];
    if (table.empty()) {
        const Prime& prime = primes()[q];
        const std::uint64_t p = prime.p;
        std::uint64_t w = pow_mod(prime.root, std::uint64_t{1} << (32 - k), p);
        std::uint64_t f = 1;
        if (inverse) {
            w = pow_mod(w, p - 2, p);
            f = pow_mod(std::uint64_t{1} << k, p - 2, p);
        }
        std::vector<std::uint64_t> power(R);
        power[0] = 1;
        const std::uint64_t w_shoup = shoup_factor(w, p);
        for (std::size_t m = 1; m < R; ++m) power[m] = mul_mod_shoup(power[m - 1], w, w_shoup, p);
        table.resize(9 * R);
        for (std::size_t j = 0; j < R; ++j) {
            std::size_t rev = 0;
            for (int bit = 0; bit < row_bits; ++bit) rev |= ((j >> bit) & 1) << (row_bits - 1 - bit);
            const std::uint64_t base = power[rev], base_shoup = shoup_factor(base, p);
            std::uint64_t x = f, eighth = 1;
            for (int i = 0; i < 8; ++i) {
                table[8 * j + i] = signed_residue(x, p);
                x = mul_mod_shoup(x, base, base_shoup, p);
                eighth = mul_mod_shoup(eighth, base, base_shoup, p);
            }
            table[8 * R + j] = signed_residue(eighth, p);
        }
    }
    return {k, row_bits, table.data(), table.data() + 8 * R};
}

}  // namespace mul
