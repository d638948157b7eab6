#include "pi_reference.h"

#include <gmp.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

const std::string& pi_reference_digits() {
    static const std::string digits = [] {
        std::ifstream in(PI_TEST_DATA_DIR "/pi-1000000.txt");
        std::string text;
        std::getline(in, text);
        if (text.size() < 3 || text.compare(0, 2, "3.") != 0)
            throw std::runtime_error("cannot read " PI_TEST_DATA_DIR "/pi-1000000.txt");
        return text.erase(1, 1);  // drop the point
    }();
    return digits;
}

std::string pi_reference_hex(std::size_t count) {
    // floor(D 16^count / 10^decimals), D the reference as an integer; its
    // error, below 10^-decimals of pi, reaches no digit this side of
    // 800,000 (about 830,000 are settled).
    const std::string& digits = pi_reference_digits();
    mpz_t d, ten;
    mpz_init_set_str(d, digits.c_str(), 10);
    mpz_init(ten);
    mpz_ui_pow_ui(ten, 10, digits.size() - 1);
    mpz_mul_2exp(d, d, 4 * count);
    mpz_fdiv_q(d, d, ten);
    std::string hex(mpz_sizeinbase(d, 16) + 1, '\0');
    mpz_get_str(&hex[0], 16, d);
    hex.resize(count + 1);
    mpz_clears(d, ten, nullptr);
    return "3." + hex.substr(1);
}

// Adds one unit in the last place of a decimal digit string.
static std::string plus_one(std::string n) {
    for (auto i = n.size(); i-- > 0;) {
        if (n[i] != '9') {
            ++n[i];
            return n;
        }
        n[i] = '0';
    }
    return "1" + n;
}

static std::string first_difference(const std::string& printed, const std::string& truth) {
    std::size_t i = 0;
    while (i < printed.size() && i < truth.size() && printed[i] == truth[i]) ++i;
    std::ostringstream msg;
    msg << "wrong from decimal " << i << ": printed ..." << printed.substr(i, 12) << ", pi is ..."
        << truth.substr(i, 12);
    return msg.str();
}

std::string check_pi_digits(const std::string& mantissa, long exponent, int digits) {
    const std::size_t significant = static_cast<std::size_t>(digits) + 2;
    if (exponent != 1) return "exponent " + std::to_string(exponent) + ", expected 1";
    if (mantissa.size() > significant) return "more than digits + 2 significant digits";
    const std::string printed = mantissa + std::string(significant - mantissa.size(), '0');
    const std::string& ref = pi_reference_digits();

    if (significant <= ref.size()) {
        // pi = truth + f units with 0 < f < 1, so within one unit means
        // printed is truth or truth + 1.
        const std::string truth = ref.substr(0, significant);
        if (printed == truth || printed == plus_one(truth)) return "";
        return first_difference(printed, truth);
    }
    if (significant == ref.size() + 1) {
        // The last digit of truth is unknown: printed must lie within
        // [ref * 10, ref * 10 + 10].
        const std::string known = printed.substr(0, ref.size());
        if (known == ref || printed == plus_one(ref) + "0") return "";
        return first_difference(printed, ref);
    }
    throw std::runtime_error("reference digits too short for " + std::to_string(digits));
}

std::string check_pi_line(const std::string& line, int digits) {
    const auto e = line.find('e');
    if (line.compare(0, 2, "0.") != 0 || e == std::string::npos)
        return "not a number in the library's float notation: " + line.substr(0, 40);
    return check_pi_digits(line.substr(2, e - 2), std::stol(line.substr(e + 1)), digits);
}
