#include "digits_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fatal_line.h"
#include "products.h"

namespace {

// "3." and the decimals from the digits of N = floor(x 10^k), where the
// last k - decimals >= 2 of them, t, leave [N - 10, N + 11] in one decimal:
// 10 <= t <= 10^(k - decimals) - 12, compared as strings of one length.
// Empty where they do not.
std::string settled_from_digits(const std::string& n, long long decimals, long long k) {
    const std::size_t past = static_cast<std::size_t>(k - decimals);
    const std::string tail = n.substr(n.size() - past);
    if (tail < std::string(past - 2, '0') + "10" || tail > std::string(past - 2, '9') + "88") return {};
    return n.substr(0, 1) + "." + n.substr(1, static_cast<std::size_t>(decimals));
}

}  // namespace

std::string settled_decimals(const mpf_t x, long long decimals, long long bound) {
    const std::string fast = products::floor_digits(x, static_cast<std::size_t>(bound + 1));
    if (!fast.empty()) return settled_from_digits(fast, decimals, bound + 1);
    // N = floor(x 10^k), k = bound + 1, exactly: x is an integer z over
    // 2^s (s = the bits of its words below the point), and N = floor(z 10^k
    // / 2^s). Then pi 10^k lies in (N - 10, N + 11), and the decimals wanted,
    // floor(pi 10^decimals), in [floor((N - 10) / 10^(k - decimals)),
    // floor((N + 11) / 10^(k - decimals))]: settled where the two agree.
    const long long k = bound + 1;
    const long words = x->_mp_size, below = words - x->_mp_exp;
    mpz_t z, n, scale;
    mpz_inits(z, n, scale, nullptr);
    mpz_import(z, static_cast<size_t>(words), -1, sizeof(mp_limb_t), 0, 0, x->_mp_d);
    mpz_ui_pow_ui(scale, 10, static_cast<unsigned long>(k));
    mpz_mul(n, z, scale);
    if (below > 0)
        mpz_fdiv_q_2exp(n, n, static_cast<mp_bitcnt_t>(below) * GMP_NUMB_BITS);
    else
        mpz_mul_2exp(n, n, static_cast<mp_bitcnt_t>(-below) * GMP_NUMB_BITS);
    mpz_ui_pow_ui(scale, 10, static_cast<unsigned long>(k - decimals));
    mpz_sub_ui(z, n, 10);
    mpz_fdiv_q(z, z, scale);
    mpz_add_ui(n, n, 11);
    mpz_fdiv_q(n, n, scale);
    std::string text;
    if (mpz_cmp(z, n) == 0) {
        text.resize(mpz_sizeinbase(z, 10) + 2);
        mpz_get_str(&text[1], 10, z);
        text.resize(std::strlen(text.c_str() + 1) + 1);
        text[0] = text[1];  // "3" then the point: "3." and the decimals
        text[1] = '.';
    }
    mpz_clears(z, n, scale, nullptr);
    return text;
}

bool write_digits_file(const char* program, const char* path, const std::string& text) {
    const std::string part = std::string(path) + ".part";
    std::FILE* file = std::fopen(part.c_str(), "w");
    bool written = file != nullptr;
    if (written) {
        written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fputc('\n', file) != EOF;
        written = std::fclose(file) == 0 && written;
    }
    if (written && std::rename(part.c_str(), path) == 0) return true;
    const int error = errno != 0 ? errno : EIO;
    if (file) std::remove(part.c_str());
    print_fatal_line("%s: cannot write %s: %s\n", program, path, std::strerror(error));
    return false;
}
