#include "checks.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bbp.h"
#include "mul.h"
#include "residue.h"

namespace verify {

namespace {

using u64 = std::uint64_t;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(line, sizeof line, pattern, arguments);
    va_end(arguments);
    return line;
}

// x > 0 as an integer z over 2^s: its words, s = 64 (words - exponent).
struct Words {
    const mp_limb_t* z;
    std::size_t n;
    long long s;
};
Words words_of(const mpf_t x) {
    const std::size_t n = static_cast<std::size_t>(x->_mp_size < 0 ? -x->_mp_size : x->_mp_size);
    return {x->_mp_d, n, 64 * (static_cast<long long>(n) - x->_mp_exp)};
}

// Bits [from, from + 128) of {z, n} (those below bit 0 read as 0).
u128 bits128(const Words& w, long long from) {
    u128 bits = 0;
    for (int k = 127; k >= 0; --k) {
        const long long at = from + k;
        const bool bit = at >= 0 && static_cast<std::size_t>(at / 64) < w.n && (w.z[at / 64] >> (at % 64)) & 1;
        bits = (bits << 1) | bit;
    }
    return bits;
}

// Hexadecimal digits [first, first + count) of a 128-bit fraction (digit 0
// its top four bits).
std::string hex_digits(u128 x, int first, int count) {
    std::string text;
    for (int i = first; i < first + count; ++i) text += "0123456789abcdef"[(x >> (124 - 4 * i)) & 15];
    return text;
}

// Where the formula is asked: the value's 128 bits from there are within
// 2^28 units of their last bit of frac(16^d pi), and the formula's about
// 2^32; a 16-digit window then fits with its carry margin.
std::uint64_t formula_position(long trusted) { return trusted >= 100 ? static_cast<std::uint64_t>(trusted - 100) / 4 : 0; }

}  // namespace

void damage_compared_digit(mpf_t x, long trusted) {
    // Digit 12 after the formula's position lies in every window compared;
    // digit p after the point is bits [s - 4p, s - 4p + 4) of the words.
    const Words w = words_of(x);
    const long long bit = w.s - 4 * static_cast<long long>(formula_position(trusted) + 12);
    if (bit >= 0 && static_cast<std::size_t>(bit / 64) < w.n) x->_mp_d[bit / 64] ^= mp_limb_t{1} << (bit % 64);
}

Outcome check_hex_digits(const mpf_t x, long trusted, int threads) {
    const auto start = std::chrono::steady_clock::now();
    const Words w = words_of(x);
    for (std::uint64_t d = formula_position(trusted);; d = d >= 8 ? d - 8 : 0) {
        const PiFraction formula = pi_fraction(d, threads);
        const u128 value = bits128(w, w.s - 4 * static_cast<long long>(d) - 128);
        // Both within `bound` units of 2^-128 of frac(16^d pi): the value's
        // error 2^(4d - trusted) in those units, the formula's its own.
        const long long value_log = 4 * static_cast<long long>(d) - trusted + 128;
        const u128 bound = value_log >= 120 ? static_cast<u128>(1) << 120
                                            : (value_log < 0 ? 1 : static_cast<u128>(1) << value_log) + formula.error + 1;
        // The longest window, then the latest, whose digits neither side can
        // have off by a carry: the value's bits after it lie farther than
        // twice the bound from a carry either way.
        for (int width = 16; width >= 1; --width)
            for (int j = 32 - width; j >= 0; --j) {
                const int after = 128 - 4 * (j + width);
                if (after <= 0 || after >= 128 || (bound >> (after - 3)) != 0) continue;
                const u128 one = static_cast<u128>(1) << after, rest = value & (one - 1);
                if (rest <= 2 * bound || rest >= one - 2 * bound) continue;
                const std::string ours = hex_digits(value, j, width), theirs = hex_digits(formula.bits, j, width);
                const unsigned long long first = d + static_cast<unsigned long long>(j) + 1, last = first + width - 1;
                if (ours != theirs)
                    return {false, format("verify: hexadecimal digits %llu to %llu disagree with the digit-extraction "
                                          "formula: the value has %s, the formula %s",
                                          first, last, ours.c_str(), theirs.c_str())};
                return {true, format("verify: hexadecimal digits %llu to %llu agree with the digit-extraction formula "
                                     "(%.1f s)",
                                     first, last, seconds_since(start))};
            }
        if (d == 0)
            return {true, "verify: the value's precision leaves no hexadecimal digit to compare with the "
                          "digit-extraction formula"};
    }
}

namespace {

// The last power made: a run checks its digit line (5^(N+1)) and then its
// file (5^N), one division by 5 apart.
struct Power {
    std::uint64_t k = 0;
    mpz_t p;
    Power() { mpz_init_set_ui(p, 1); }
};
Power& last_power() {
    static Power* const last = new Power;  // kept for the process's life
    return *last;
}

// 5^k, by GMP or by the engine's squarings, kept until the next is asked
// for.
mpz_srcptr power_of_five(std::uint64_t k, const Arithmetic& arithmetic) {
    Power& last = last_power();
    if (last.k == k) return last.p;
    if (last.k == k + 1) {
        mpz_divexact_ui(last.p, last.p, 5);
    } else if (last.k + 1 == k) {
        mpz_mul_ui(last.p, last.p, 5);
    } else if (!arithmetic.engine) {
        mpz_ui_pow_ui(last.p, 5, k);
    } else {
        mpz_t square;
        mpz_init(square);
        mpz_set_ui(last.p, 1);
        for (int bit = 63 - __builtin_clzll(k | 1); bit >= 0; --bit) {
            const std::size_t n = mpz_size(last.p);
            mul::sqr(mpz_limbs_write(square, static_cast<mp_size_t>(2 * n)), mpz_limbs_read(last.p), n,
                     arithmetic.threads);
            std::size_t size = 2 * n;
            while (size > 0 && mpz_limbs_read(square)[size - 1] == 0) --size;
            mpz_limbs_finish(square, static_cast<mp_size_t>(size));
            mpz_swap(last.p, square);
            if ((k >> bit) & 1) mpz_mul_ui(last.p, last.p, 5);
        }
        mpz_clear(square);
    }
    last.k = k;
    return last.p;
}

// The words from `low` up of {a, an} {b, bn}.
std::vector<mp_limb_t> top_product(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                                   std::size_t low, const Arithmetic& arithmetic) {
    if (arithmetic.engine) {
        const mul::Product product(a, an, b, bn, arithmetic.threads, low);
        return std::vector<mp_limb_t>(product.words(), product.words() + (an + bn - low));
    }
    mpz_t x, y, z;
    mpz_roinit_n(x, a, static_cast<mp_size_t>(an));
    mpz_roinit_n(y, b, static_cast<mp_size_t>(bn));
    mpz_init(z);
    mpz_mul(z, x, y);
    std::vector<mp_limb_t> top(an + bn - low, 0);
    const std::size_t size = mpz_size(z);
    for (std::size_t i = low; i < size; ++i) top[i - low] = mpz_getlimbn(z, static_cast<mp_size_t>(i));
    mpz_clear(z);
    return top;
}

// floor(G / 2^shift) for G = {g, n}: its residue mod q, and the top 64
// bits of G's bits below the shift (the fraction's).
struct Floor {
    u64 residue;
    u64 fraction;
};
Floor floor_of(const mp_limb_t* g, std::size_t n, std::size_t shift) {
    const std::size_t word = shift / 64;
    const unsigned b = shift % 64;
    Floor f{0, 0};
    if (word >= n) return f;
    // (G' - G' mod 2^b) / 2^b, G' the words from `word` on.
    const u64 below = b ? g[word] & ((u64{1} << b) - 1) : 0;
    const u64 inverse_two = (modulus() + 1) / 2;
    f.residue = mul_mod(sub_mod(words_residue(g + word, n - word), below), pow_mod(inverse_two, b));
    for (int k = 63; k >= 0; --k) {
        const long long at = static_cast<long long>(shift) - 64 + k;
        const bool bit = at >= 0 && (g[at / 64] >> (at % 64)) & 1;
        f.fraction = (f.fraction << 1) | bit;
    }
    return f;
}

// floor(x base^k) for base 10 or 16, as floor_of: for 16, x's words
// shifted; for 10, the words of z 5^k from below the shift.
Floor floor_of_scaled(const mpf_t x, int base, std::uint64_t k, const Arithmetic& arithmetic, bool* checkable) {
    const Words w = words_of(x);
    const long long shift = w.s - static_cast<long long>(base == 16 ? 4 * k : k);
    *checkable = shift >= 0;
    if (!*checkable) return {0, 0};
    if (base == 16) return floor_of(w.z, w.n, static_cast<std::size_t>(shift));
    mpz_srcptr five = power_of_five(k, arithmetic);
    const std::size_t low = shift >= 64 ? static_cast<std::size_t>(shift) / 64 - 1 : 0;
    const std::vector<mp_limb_t> top =
        top_product(w.z, w.n, mpz_limbs_read(five), mpz_size(five), low, arithmetic);
    return floor_of(top.data(), top.size(), static_cast<std::size_t>(shift) - 64 * low);
}

const char* text_name(int base) { return base == 16 ? "hexadecimal" : "decimal"; }

}  // namespace

Outcome check_truncated_text(const std::string& text, int base, const mpf_t x, const Arithmetic& arithmetic) {
    const auto start = std::chrono::steady_clock::now();
    const char* name = text_name(base);
    u64 digits = 0;
    if (text.size() < 2 || text.compare(0, 2, "3.") != 0 ||
        !digits_residue(text.data() + 2, text.size() - 2, base, &digits))
        return {false, format("verify: the %s text does not read as 3. and digits", name)};
    // Whether the text's first k digits are those of floor(x base^k): the
    // integer 3 base^k + those digits against it, mod q.
    bool checkable = true;
    const auto agrees = [&](std::uint64_t k, u64 residue) {
        const u64 claimed = add_mod(mul_mod(3, pow_mod(static_cast<u64>(base), k)), residue);
        return claimed == floor_of_scaled(x, base, k, arithmetic, &checkable).residue;
    };
    std::uint64_t count = text.size() - 2;
    if (agrees(count, digits))
        return {true, format("verify: %s text checked against the value modulo a 61-bit prime (%.1f s)", name,
                             seconds_since(start))};
    if (!checkable) return {false, format("verify: the value is too short for the %s text", name)};
    // The first digit that disagrees: where a prefix stops agreeing.
    std::uint64_t good = 0;
    while (count - good > 1) {
        const std::uint64_t middle = good + (count - good) / 2;
        u64 prefix = 0;
        digits_residue(text.data() + 2, middle, base, &prefix);
        (agrees(middle, prefix) ? good : count) = middle;
    }
    return {false, format("verify: the %s text disagrees with the value from digit %llu on (modulo a 61-bit prime)",
                          name, static_cast<unsigned long long>(count))};
}

Outcome check_digit_line(const std::string& text, std::size_t count, const mpf_t x, const Arithmetic& arithmetic) {
    const auto start = std::chrono::steady_clock::now();
    const std::size_t e = text.find('e');
    u64 mantissa = 0;
    if (text.compare(0, 2, "0.") != 0 || e == std::string::npos || e < 3 || e - 2 > count ||
        !digits_residue(text.data() + 2, e - 2, 10, &mantissa))
        return {false, "verify: the digit line does not read as a number"};
    const long long exponent = std::strtoll(text.c_str() + e + 1, nullptr, 10);
    // The digits as printed, trailing zeros put back: count of them.
    const u64 claimed = mul_mod(mantissa, pow_mod(10, count - (e - 2)));
    const long long scale = static_cast<long long>(count) - exponent;
    bool checkable = scale >= 0;
    const Floor value = checkable ? floor_of_scaled(x, 10, static_cast<std::uint64_t>(scale), arithmetic, &checkable)
                                  : Floor{0, 0};
    if (!checkable) return {false, "verify: the value is too short for the digit line"};
    // Down where the rest is below a half, up where above, either within
    // 1/16 of it.
    const u64 half = u64{1} << 63, margin = u64{1} << 59;
    const bool down = claimed == value.residue && value.fraction <= half + margin;
    const bool up = claimed == add_mod(value.residue, 1) && value.fraction >= half - margin;
    if (!down && !up) return {false, "verify: the digit line disagrees with the value modulo a 61-bit prime"};
    return {true, format("verify: decimal text checked against the value modulo a 61-bit prime (the digit line, "
                         "%.1f s)",
                         seconds_since(start))};
}

}  // namespace verify
