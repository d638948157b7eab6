#include "hex_text.h"

#include <cstdint>

std::string settled_hex(const mpf_t x, long long digits, long trusted) {
    // x = z / 2^s; floor(x 16^digits) = z >> (s - 4 digits), and the 64 bits
    // below those, the fraction after the last digit, in units of 2^-64:
    // pi's lies within 2^(64 + 4 digits - trusted) of it.
    const long long words = x->_mp_size, s = 64 * (words - x->_mp_exp), shift = s - 4 * digits;
    const long long margin_log = 64 + 4 * digits - trusted;
    if (words <= 0 || shift < 64 || margin_log >= 62) return {};
    mpz_t z, fraction;
    mpz_init(fraction);
    mpz_roinit_n(z, x->_mp_d, static_cast<mp_size_t>(words));
    mpz_tdiv_r_2exp(fraction, z, static_cast<mp_bitcnt_t>(shift));
    mpz_tdiv_q_2exp(fraction, fraction, static_cast<mp_bitcnt_t>(shift - 64));
    const std::uint64_t after = mpz_get_ui(fraction), margin = margin_log < 0 ? 1 : std::uint64_t{1} << margin_log;
    std::string text;
    if (after > margin && after < ~std::uint64_t{0} - margin) {
        mpz_tdiv_q_2exp(fraction, z, static_cast<mp_bitcnt_t>(shift));
        text.resize(mpz_sizeinbase(fraction, 16) + 2);
        mpz_get_str(&text[1], 16, fraction);
        text.resize(static_cast<std::size_t>(digits) + 2);  // "3" and the digits
        text[0] = '3';
        text[1] = '.';
    }
    mpz_clear(fraction);
    return text;
}
