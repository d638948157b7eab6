#include "primes.h"

#include <mutex>
#include <random>

namespace mul {

std::uint64_t pow_mod(std::uint64_t base, std::uint64_t e, std::uint64_t m) {
    std::uint64_t result = 1 % m;
    base %= m;
    for (; e > 0; e >>= 1) {
        if (e & 1) result = mul_mod(result, base, m);
        base = mul_mod(base, base, m);
    }
    return result;
}

bool is_prime(std::uint64_t n) {
    if (n < 2) return false;
    static const std::uint64_t small[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
    for (std::uint64_t q : small)
        if (n % q == 0) return n == q;
    // Miller-Rabin with the first twelve primes as bases is deterministic
    // below 3.3e24, so for every 64-bit n.
    std::uint64_t d = n - 1;
    int s = 0;
    for (; d % 2 == 0; d /= 2) ++s;
    for (std::uint64_t a : small) {
        std::uint64_t x = pow_mod(a, d, n);
        if (x == 1 || x == n - 1) continue;
        bool composite = true;
        for (int i = 1; i < s && composite; ++i) {
            x = mul_mod(x, x, n);
            if (x == n - 1) composite = false;
        }
        if (composite) return false;
    }
    return true;
}

namespace {

Prime table[MAX_PRIMES];
double* storage;    // the roots' tables, written a level at a time
int levels_built;   // levels len = 1 .. 2^(levels_built - 1) written

// A primitive 2^32-th root of unity mod p = 1 (mod 2^32): x^((p-1)/2^32)
// has order dividing 2^32, exactly 2^32 unless its 2^31-th power is 1.
std::uint64_t primitive_root_2_32(std::uint64_t p) {
    for (std::uint64_t x = 2;; ++x) {
        const std::uint64_t w = pow_mod(x, (p - 1) >> 32, p);
        if (pow_mod(w, std::uint64_t{1} << 31, p) != 1) return w;
    }
}

// Level len of every prime's tables: w_{2 len}^j and its inverse, j < len.
void build_level(std::size_t len) {
    for (Prime& prime : table) {
        const std::uint64_t p = prime.p;
        // w_{2 len} = root^(2^32 / (2 len))
        const std::uint64_t w = pow_mod(prime.root, (std::uint64_t{1} << 32) / (2 * len), p);
        const std::uint64_t w_inv = pow_mod(w, p - 2, p);
        const std::uint64_t w_shoup = shoup_factor(w, p), w_inv_shoup = shoup_factor(w_inv, p);
        std::uint64_t x = 1, y = 1;
        for (std::size_t j = 0; j < len; ++j) {
            prime.w_fwd[len + j] = signed_residue(x, p);
            prime.w_inv[len + j] = signed_residue(y, p);
            x = mul_mod_shoup(x, w, w_shoup, p);
            y = mul_mod_shoup(y, w_inv, w_inv_shoup, p);
        }
    }
}

void build() {
    const std::size_t size = std::size_t{1} << TABLE_BITS;
    // Written level by level as transforms need them (prepare_roots): the
    // pages of levels never used are never touched.
    storage = new double[2 * MAX_PRIMES * size];
    // The largest primes below 2^50 of the form m 2^32 + 1.
    std::uint64_t m = (std::uint64_t{1} << 18) - 1;
    for (int i = 0; i < MAX_PRIMES; --m) {
        const std::uint64_t p = (m << 32) + 1;
        if (!is_prime(p)) continue;
        Prime& prime = table[i];
        prime.p = p;
        prime.pd = static_cast<double>(p);
        prime.pinv = 1.0 / prime.pd;
        prime.root = primitive_root_2_32(p);
        prime.w_fwd = storage + (2 * i) * size;
        prime.w_inv = storage + (2 * i + 1) * size;
        for (int k = 0; k < 4; ++k)
            prime.pow48[k] = signed_residue(pow_mod(2, 48 * static_cast<std::uint64_t>(k), p), p);
        for (int j = 0; j < i; ++j)
            prime.inv_below[j] = signed_residue(pow_mod(table[j].p % p, p - 2, p), p);
        ++i;
    }
    levels_built = 0;
}

}  // namespace

void prepare_roots(int bits) {
    static std::mutex mutex;
    primes();
    std::lock_guard<std::mutex> lock(mutex);
    for (; levels_built < bits; ++levels_built) build_level(std::size_t{1} << levels_built);
}

std::uint64_t random_prime_below_2_61() {
    std::random_device device;
    std::uint64_t d = (std::uint64_t{device()} % (1u << 19) + (1u << 9)) * 2 + 1;
    while (!is_prime((std::uint64_t{1} << 61) - d)) d += 2;
    return (std::uint64_t{1} << 61) - d;
}

const Prime* primes() {
    static std::once_flag once;
    std::call_once(once, build);
    return table;
}

}  // namespace mul
