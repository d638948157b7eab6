#include "decimal.h"

#include <atomic>
#include <cmath>
#include <iterator>
#include <map>
#include <set>

#include "mul.h"
#include "scratch.h"
#include "team.h"

namespace decimal {

namespace {

// Bits a fraction keeps beyond its digits. Each step below (a cut to fewer
// words, a division, a dropped word in a leaf) moves it up by at most two
// units of its last word, 2^-128 of a unit in its last digit; a split
// tree at most 40 levels deep and 110 word drops in a leaf stay below
// 2^-119, under the 2^-112 a leaf's remainder must reach to be settled.
constexpr double GUARD_BITS = 128;
constexpr mp_limb_t SETTLED_BELOW = mp_limb_t(1) << 16;  // 2^-112 in the second word

// Digits a leaf turns out 19 at a time by products with 10^19.
constexpr std::size_t LEAF_DIGITS = 1200;
constexpr mp_limb_t TEN_TO_19 = 10000000000000000000ULL;

constexpr double LOG2_10 = 3.32192809488736234787;

std::atomic<unsigned long> library_count{0};

// Words from GMP's allocator, so that a program's out-of-memory handling
// covers them.
class Limbs {
public:
    Limbs() = default;
    explicit Limbs(std::size_t n) : n_(n), p_(static_cast<mp_limb_t*>(mul::allocate_block(n * sizeof(mp_limb_t)))) {}
    ~Limbs() { reset(); }
    Limbs(Limbs&& o) noexcept : n_(o.n_), p_(o.p_) { o.p_ = nullptr; o.n_ = 0; }
    Limbs& operator=(Limbs&& o) noexcept {
        reset();
        n_ = o.n_;
        p_ = o.p_;
        o.p_ = nullptr;
        o.n_ = 0;
        return *this;
    }
    void reset() {
        if (!p_) return;
        mul::release_block(p_, n_ * sizeof(mp_limb_t));
        p_ = nullptr;
        n_ = 0;
    }
    mp_limb_t* get() const { return p_; }
    std::size_t size() const { return n_; }

private:
    std::size_t n_ = 0;
    mp_limb_t* p_ = nullptr;
};

// Words of a fraction that holds `digits` digits and the guard.
std::size_t limbs_for(std::size_t digits) {
    return static_cast<std::size_t>(std::ceil((digits * LOG2_10 + GUARD_BITS) / GMP_NUMB_BITS)) + 1;
}

// 10^h for every h a split of `len` digits multiplies by: the leading part
// of a split of len takes h = len - len/2 digits. The lengths at one depth
// of the splitting differ by at most one, so their h do too: where both h
// and h + 1 are wanted only 10^h is kept, and 10^(h+1) is made from it when
// asked for. Made before the splitting, read by every thread after.
class Powers {
public:
    Powers(std::size_t len, int threads) : threads_(threads) {
        std::set<std::size_t> lengths, wanted;
        need(len, &lengths, &wanted);
        for (std::size_t h : wanted)
            if (!table_.count(h - 1)) make(h);
        // The squarings' intermediate powers that no split asks for.
        for (auto it = table_.begin(); it != table_.end();) {
            const bool asked = wanted.count(it->first) || wanted.count(it->first + 1);
            it = asked ? std::next(it) : table_.erase(it);
        }
    }

    // 10^h, from the table or, for h one past a kept power, into *spare.
    const Limbs& get(std::size_t h, Limbs* spare) const {
        const auto found = table_.find(h);
        if (found != table_.end()) return found->second;
        const Limbs& below = table_.at(h - 1);
        const std::size_t n = below.size();
        Limbs p(n + 1);
        p.get()[n] = mpn_mul_1(p.get(), below.get(), static_cast<mp_size_t>(n), 10);
        *spare = Limbs(p.get()[n] != 0 ? n + 1 : n);
        mpn_copyi(spare->get(), p.get(), static_cast<mp_size_t>(spare->size()));
        return *spare;
    }

    // The power of the splitting's first cut, used once: gone after it.
    void drop_largest() {
        if (!table_.empty()) table_.erase(std::prev(table_.end()));
    }

private:
    static void need(std::size_t len, std::set<std::size_t>* lengths, std::set<std::size_t>* wanted) {
        if (len <= LEAF_DIGITS || !lengths->insert(len).second) return;
        wanted->insert(len - len / 2);
        need(len - len / 2, lengths, wanted);
        need(len / 2, lengths, wanted);
    }

    // 10^h = (10^(h/2))^2, times 10 where h is odd.
    const Limbs& make(std::size_t h) {
        auto found = table_.find(h);
        if (found != table_.end()) return found->second;
        Limbs p;
        if (h <= 2 * LEAF_DIGITS) {
            mpz_t z;
            mpz_init(z);
            mpz_ui_pow_ui(z, 10, h);
            p = Limbs(mpz_size(z));
            mpn_copyi(p.get(), mpz_limbs_read(z), static_cast<mp_size_t>(p.size()));
            mpz_clear(z);
        } else {
            const Limbs& half = make(h / 2);
            const std::size_t n = half.size();
            p = Limbs(2 * n + 1);
            mul::sqr(p.get(), half.get(), n, threads_);
            std::size_t size = 2 * n;
            if (h % 2 != 0) {
                p.get()[size] = mpn_mul_1(p.get(), p.get(), static_cast<mp_size_t>(size), 10);
                ++size;
            }
            while (p.get()[size - 1] == 0) --size;
            Limbs exact(size);
            mpn_copyi(exact.get(), p.get(), static_cast<mp_size_t>(size));
            p = std::move(exact);
        }
        return table_.emplace(h, std::move(p)).first->second;
    }

    int threads_;
    std::map<std::size_t, Limbs> table_;
};

// What a split of digits found: whether every floor was certain, and the
// fraction left after the last digit (its leading word), for the rounding.
struct Tail {
    bool settled;
    mp_limb_t rest;
};

// Writes the `len` digits of floor(f 10^len), f the fraction {f, w} (over
// 2^(64 w)), 19 at a time: the integer part of f 10^19 is the next 19. As
// the digits left shrink, so do the words kept, each cut moved up a unit.
Tail leaf(mp_limb_t* f, std::size_t w, std::size_t len, char* out) {
    bool settled = true;
    for (std::size_t k = 0; k < len;) {
        const std::size_t c = len - k < 19 ? len - k : 19;
        mp_limb_t scale = 1;
        for (std::size_t i = 0; i < c; ++i) scale *= 10;
        mp_limb_t digits = mpn_mul_1(f, f, static_cast<mp_size_t>(w), c == 19 ? TEN_TO_19 : scale);
        for (std::size_t i = c; i-- > 0;) {
            out[k + i] = static_cast<char>('0' + digits % 10);
            digits /= 10;
        }
        k += c;
        const std::size_t keep = limbs_for(len - k);
        if (keep < w) {
            f += w - keep;
            w = keep;
            if (mpn_add_1(f, f, static_cast<mp_size_t>(w), 1) != 0) settled = false;
        }
    }
    // A remainder within 2^-112 of 0 may be one the error carried past 1.
    if (f[w - 1] == 0 && f[w - 2] < SETTLED_BELOW) settled = false;
    return {settled, f[w - 1]};
}

// A split's first step: the fraction part of f 10^h, h = len - len/2, in
// the leading words the trailing len/2 digits need, and f's leading words
// for the first h, each moved up a unit.
struct Cut {
    std::size_t h, l;
    Limbs low;
    bool settled;
};

// The leading {low, wl} of the fraction part of {f, w} 10^h, exactly: the
// words [w - wl, w) of the product. in_two makes it as two products of half
// the size, f = f1 B^k + f0 with B = 2^64, k near w/2: words [k, w) of
// f0 10^h plus the low w - k of f1 10^h, the carry out of them being the
// integer part. Each half needs about half the scratch of the whole; the
// two take a little longer than the one.
void fraction_part(mp_limb_t* low, std::size_t wl, const mp_limb_t* f, std::size_t w, const Limbs& power,
                   bool in_two, int threads) {
    const std::size_t pn = power.size();
    if (!in_two) {
        Limbs whole(w + pn);
        mul::mul(whole.get(), f, w, power.get(), pn, threads);
        mpn_copyi(low, whole.get() + (w - wl), static_cast<mp_size_t>(wl));
        return;
    }
    // k leaves the wl words wanted above it: the guard makes wl a few more
    // than half of w.
    const std::size_t k = w / 2 < w - wl ? w / 2 : w - wl, upper_words = w - k;
    Limbs upper(upper_words);
    {
        Limbs part(k + pn);
        mul::mul(part.get(), f, k, power.get(), pn, threads);
        const std::size_t n = pn < upper_words ? pn : upper_words;
        mpn_copyi(upper.get(), part.get() + k, static_cast<mp_size_t>(n));
        if (n < upper_words) mpn_zero(upper.get() + n, static_cast<mp_size_t>(upper_words - n));
    }
    {
        Limbs part(upper_words + pn);
        mul::mul(part.get(), f + k, upper_words, power.get(), pn, threads);
        mpn_add_n(upper.get(), upper.get(), part.get(), static_cast<mp_size_t>(upper_words));
    }
    mpn_copyi(low, upper.get() + (upper_words - wl), static_cast<mp_size_t>(wl));
}

// A splitting's powers, and the lengths above which a split is one of its
// top three levels: there each product is made in two, on every thread, and
// the halves one after the other, so that the scratch alive is at most
// that of one half-size product while the text and the top fractions are
// held; below, the halves run on threads of their own.
struct Splitting {
    Powers powers;
    std::size_t top;
};

Cut cut(mp_limb_t* f, std::size_t w, std::size_t len, const Splitting& s, int threads) {
    Cut c{len - len / 2, len / 2, Limbs(limbs_for(len / 2)), true};
    const std::size_t wl = c.low.size(), wh = limbs_for(c.h);
    {
        Limbs spare;
        fraction_part(c.low.get(), wl, f, w, s.powers.get(c.h, &spare), len > s.top, threads);
    }
    if (mpn_add_1(c.low.get(), c.low.get(), static_cast<mp_size_t>(wl), 1) != 0) c.settled = false;
    mp_limb_t* high = f + (w - wh);
    if (mpn_add_1(high, high, static_cast<mp_size_t>(wh), 1) != 0) c.settled = false;
    return c;
}

Tail split(mp_limb_t* f, std::size_t w, std::size_t len, char* out, const Splitting& s, int threads);

// The digits of both parts of a cut of len digits into out[0, h) and
// out[h, len).
Tail halves(mp_limb_t* f, std::size_t w, std::size_t len, Cut* c, char* out, const Splitting& s, int threads) {
    mp_limb_t* high = f + (w - limbs_for(c->h));
    const std::size_t wh = limbs_for(c->h), wl = c->low.size();
    Tail first{}, second{};
    if (threads > 1 && len <= s.top) {
        // Each half on its share of the threads; both here, each product on
        // every thread, where no thread can be had.
        const int lead_threads = threads / 2;
        mul::Team team(2);
        team.run([&](int t, int size) {
            if (size == 1) {
                first = split(high, wh, c->h, out, s, threads);
                second = split(c->low.get(), wl, c->l, out + c->h, s, threads);
            } else if (t == 1) {
                second = split(c->low.get(), wl, c->l, out + c->h, s, threads - lead_threads);
            } else {
                first = split(high, wh, c->h, out, s, lead_threads);
            }
        });
    } else {
        first = split(high, wh, c->h, out, s, threads);
        second = split(c->low.get(), wl, c->l, out + c->h, s, threads);
    }
    return {c->settled && first.settled && second.settled, second.rest};
}

// The digits of floor(f 10^len) into out[0, len): the leading h from f's
// leading words, the rest from the fraction part of f 10^h. f is the
// caller's and is overwritten.
Tail split(mp_limb_t* f, std::size_t w, std::size_t len, char* out, const Splitting& s, int threads) {
    if (len <= LEAF_DIGITS) return leaf(f, w, len, out);
    Cut c = cut(f, w, len, s, threads);
    return halves(f, w, len, &c, out, s, threads);
}

// The digits of floor(f 10^len) appended to *text. The text grows only
// after the first cut, the conversion's largest product, and that product's
// power and kept scratch are released first: the three are never alive
// together.
Tail digits(Limbs* f, std::size_t len, std::string* text, int threads) {
    Splitting s{Powers(len, threads), len / 6};
    const std::size_t at = text->size();
    if (len <= LEAF_DIGITS) {
        text->resize(at + len, '0');
        return leaf(f->get(), f->size(), len, &(*text)[at]);
    }
    Cut c = cut(f->get(), f->size(), len, s, threads);
    s.powers.drop_largest();
    mul::release_kept_scratch();
    text->resize(at + len, '0');
    return halves(f->get(), f->size(), len, &c, &(*text)[at], s, threads);
}

// The fraction x / 10^e in w words, moved up by at most two units of its
// last; 1 <= x < 2^64 and 10^(e - 1) <= x < 10^e. false where even so it
// reached 1.
bool scaled(const mpf_t x, int e, Limbs* fraction) {
    const std::size_t w = fraction->size();
    const std::size_t size = static_cast<std::size_t>(x->_mp_size);
    const std::size_t n = size < w + 1 ? size : w + 1;  // x's leading words
    const mp_limb_t* top = x->_mp_d + (size - n);
    // n - 1 fraction words; the quotient gets enough more for w in all.
    const std::size_t extra = w + 1 > n - 1 ? w + 1 - (n - 1) : 0;
    Limbs q(n + extra);
    if (e <= 19) {
        mp_limb_t divisor = 1;
        for (int i = 0; i < e; ++i) divisor *= 10;
        mpn_divrem_1(q.get(), static_cast<mp_size_t>(extra), top, static_cast<mp_size_t>(n), divisor);
    } else {  // 10^20 = 10^19 10
        mpn_divrem_1(q.get(), static_cast<mp_size_t>(extra), top, static_cast<mp_size_t>(n), TEN_TO_19);
        mpn_divrem_1(q.get(), 0, q.get(), static_cast<mp_size_t>(q.size()), 10);
    }
    // q's words below its top (the integer part, 0) are the fraction.
    const std::size_t fraction_words = q.size() - 1;
    mpn_copyi(fraction->get(), q.get() + (fraction_words - w), static_cast<mp_size_t>(w));
    return mpn_add_1(fraction->get(), fraction->get(), static_cast<mp_size_t>(w), 2) == 0;
}

// Digits of x's integer part (x's leading word, since 1 <= x < 2^64).
int integer_digits(const mpf_t x) {
    mp_limb_t top = x->_mp_d[x->_mp_size - 1];
    int e = 0;
    for (; top != 0; top /= 10) ++e;
    return e;
}

bool in_range(const mpf_t x) { return x->_mp_size > 0 && x->_mp_exp == 1; }

// "0.", then the digits from text[2] on without their trailing zeros, then
// "e" and the exponent: mpf_out_str's form, made in place.
std::string out_str_text(std::string text, long exponent) {
    text[0] = '0';
    text[1] = '.';
    std::size_t end = text.size();
    while (end > 2 && text[end - 1] == '0') --end;
    text.resize(end);
    text += "e" + std::to_string(exponent);
    return text;
}

// GMP's own text, counted: the conversion could not settle its own.
std::string fallback_text(const mpf_t x, std::size_t count) {
    ++library_count;
    return library_text(x, count);
}

// Adds 2^(64 w) 10^-count / 2, moved up a unit, to the fraction {f, w}: the
// half unit of the last digit that turns the floor into rounding half up.
// It is some GUARD_BITS bits long; the quotient is good to 2^-250. false
// where the sum reached 1.
bool add_half_unit(Limbs* f, std::size_t count) {
    mpf_t t, q;
    mpf_init2(t, 320);
    mpf_init2(q, 320);
    mpf_set_ui(t, 10);
    mpf_pow_ui(t, t, count);
    mpf_set_ui(q, 1);
    mpf_mul_2exp(q, q, f->size() * GMP_NUMB_BITS - 1);
    mpf_div(q, q, t);
    mpz_t half;
    mpz_init(half);
    mpz_set_f(half, q);
    mpz_add_ui(half, half, 1);
    const bool below_one =
        mpn_add(f->get(), f->get(), static_cast<mp_size_t>(f->size()), mpz_limbs_read(half),
                static_cast<mp_size_t>(mpz_size(half))) == 0;
    mpz_clear(half);
    mpf_clears(t, q, nullptr);
    return below_one;
}

// Whether GMP's own rounding at this count could differ from the exact one:
// it rounds from an approximation with about g = 64 ceil(count log2 10 / 64)
// - count log2 10 bits beyond the last digit, and its result was seen to
// differ from the exact rounding only where the digits after the count came
// within 0.1 2^-g of a half. Within 2^-g is GMP's text. rest is the
// leading word of the fraction left after rounding half up: a half there is
// 0 (or 1).
bool near_half(mp_limb_t rest, std::size_t count) {
    const double bits = count * LOG2_10;
    const double g = GMP_NUMB_BITS * std::ceil(bits / GMP_NUMB_BITS) - bits;
    const double window = std::exp2(-g);
    const double r = std::ldexp(static_cast<double>(rest), -GMP_NUMB_BITS);
    return r < window || 1 - r < window;
}

}  // namespace

std::string library_text(const mpf_t x, std::size_t count) {
    mp_exp_t exponent;
    char* s = mpf_get_str(nullptr, &exponent, 10, count, x);
    std::string digits(s);
    mul::release_block(s, digits.size() + 1);
    if (mpf_sgn(x) < 0) return "-" + out_str_text("  " + digits.substr(1), exponent);
    return out_str_text("  " + digits, exponent);
}

std::string float_text(const mpf_t x, std::size_t count, int threads) {
    // GMP turns out no more than 2 + (prec - 1) 64 log10 2 digits (prec the
    // float's words); the counts near that are its own.
    const double prec_bits = static_cast<double>(x->_mp_prec - 1) * GMP_NUMB_BITS;
    const double most = 2 + std::floor(prec_bits * 0.30102999566398119521);
    if (count == 0 || !in_range(x) || static_cast<double>(count) + 2 > most) return fallback_text(x, count);
    const int e = integer_digits(x);
    Limbs f(limbs_for(count));
    if (!scaled(x, e, &f) || !add_half_unit(&f, count)) return fallback_text(x, count);
    std::string text = "  ";
    const Tail tail = digits(&f, count, &text, threads);
    f.reset();
    if (!tail.settled || near_half(tail.rest, count)) return fallback_text(x, count);
    return out_str_text(std::move(text), e);
}

std::string floor_digits(const mpf_t x, std::size_t decimals, int threads) {
    if (!in_range(x)) return {};
    const int e = integer_digits(x);
    const std::size_t len = decimals + static_cast<std::size_t>(e);
    Limbs f(limbs_for(len));
    if (!scaled(x, e, &f)) return {};
    std::string text;
    if (!digits(&f, len, &text, threads).settled) return {};
    return text;
}

unsigned long library_conversions() { return library_count; }

}  // namespace decimal
