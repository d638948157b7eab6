#include "out_of_core.h"

#include <algorithm>
#include <vector>

#include "check.h"
#include "mul.h"
#include "prime_by_prime.h"

namespace mul {

namespace {

using Limbs = std::vector<mp_limb_t>;

// Limbs a streaming pass holds in each of its two buffers: a sixteenth of
// the budget between them, 64 limbs at least, 8 MiB at most.
std::size_t window(const Budget& budget) {
    return std::clamp<std::size_t>(budget.bytes / (32 * sizeof(mp_limb_t)), 64, std::size_t{1} << 20);
}

// Products this short are made in memory whatever the budget: the halving
// must end somewhere.
constexpr std::size_t ALWAYS_IN_MEMORY = 64;

Span whole(const Stored& s) { return {&s, 0, s.size()}; }

void product(Stored& r, Span a, Span b, const Budget& budget);

// How the transform can make the product a prime at a time within the
// budget (a streaming pass's buffers still held by the caller), holding
// the most in memory: false where it cannot.
bool prime_by_prime_fits(std::size_t an, std::size_t bn, const Budget& budget, Holding* holding) {
    if (!prime_by_prime_applies(an, bn)) return false;
    for (const Holding h : {Holding{true, true}, Holding{false, true}, Holding{true, false}, Holding{false, false}})
        if (prime_by_prime_bytes(an, bn, budget.threads, h) + 2 * window(budget) * sizeof(mp_limb_t) <= budget.bytes) {
            *holding = h;
            return true;
        }
    return false;
}

void in_memory(Stored& r, const Span& a, const Span& b, const Budget& budget) {
    Limbs x(a.size), y(b.size), z(a.size + b.size);
    read_span(a, 0, a.size, x.data());
    read_span(b, 0, b.size, y.data());
    mul(z.data(), x.data(), a.size, y.data(), b.size, budget.threads);
    r.write(0, z.size(), z.data());
}

// d <- |x - y| (x of d's size, y no longer); the sign of x - y.
int difference(Stored& d, const Span& x, const Span& y, const Budget& budget) {
    const std::size_t n = d.size(), w = window(budget);
    Limbs u(w), v(w);
    int sign = 0;
    for (std::size_t top = n; top > 0 && sign == 0;) {
        const std::size_t c = std::min(w, top);
        top -= c;
        read_span(x, static_cast<std::ptrdiff_t>(top), c, u.data());
        read_span(y, static_cast<std::ptrdiff_t>(top), c, v.data());
        sign = mpn_cmp(u.data(), v.data(), static_cast<mp_size_t>(c));
    }
    if (sign == 0) return 0;
    const Span& big = sign > 0 ? x : y;
    const Span& small = sign > 0 ? y : x;
    mp_limb_t borrow = 0;
    for (std::size_t i = 0; i < n; i += w) {
        const std::size_t c = std::min(w, n - i);
        read_span(big, static_cast<std::ptrdiff_t>(i), c, u.data());
        read_span(small, static_cast<std::ptrdiff_t>(i), c, v.data());
        mp_limb_t out = mpn_sub_n(u.data(), u.data(), v.data(), static_cast<mp_size_t>(c));
        if (borrow) out += mpn_sub_1(u.data(), u.data(), static_cast<mp_size_t>(c), 1);
        borrow = out;
        d.write(i, c, u.data());
    }
    return sign > 0 ? 1 : -1;
}

// r <- z0 + (z0 + z2 + sign zm) x + z2 x^2, x = 2^(64 h), in one pass low
// to high with a signed carry between the windows.
void join_karatsuba(Stored& r, const Stored& z0, const Stored& z2, const Stored& zm, int sign, std::size_t h,
                    const Budget& budget) {
    const std::size_t n = r.size(), w = window(budget);
    const std::ptrdiff_t sh = static_cast<std::ptrdiff_t>(h);
    Limbs acc(w), t(w);
    long long carry = 0;
    for (std::size_t i = 0; i < n; i += w) {
        const std::size_t c = std::min(w, n - i);
        const mp_size_t m = static_cast<mp_size_t>(c);
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i);
        long long out = 0;
        z0.read(at, c, acc.data());
        z0.read(at - sh, c, t.data());
        out += static_cast<long long>(mpn_add_n(acc.data(), acc.data(), t.data(), m));
        z2.read(at - sh, c, t.data());
        out += static_cast<long long>(mpn_add_n(acc.data(), acc.data(), t.data(), m));
        z2.read(at - 2 * sh, c, t.data());
        out += static_cast<long long>(mpn_add_n(acc.data(), acc.data(), t.data(), m));
        if (sign != 0) {
            zm.read(at - sh, c, t.data());
            if (sign > 0)
                out += static_cast<long long>(mpn_add_n(acc.data(), acc.data(), t.data(), m));
            else
                out -= static_cast<long long>(mpn_sub_n(acc.data(), acc.data(), t.data(), m));
        }
        if (carry > 0) out += static_cast<long long>(mpn_add_1(acc.data(), acc.data(), m, static_cast<mp_limb_t>(carry)));
        if (carry < 0) out -= static_cast<long long>(mpn_sub_1(acc.data(), acc.data(), m, static_cast<mp_limb_t>(-carry)));
        r.write(i, c, acc.data());
        carry = out;
    }
}

// r <- a b, an >= bn > h = ceil(an / 2), by Karatsuba's identity.
void karatsuba(Stored& r, const Span& a, const Span& b, const Budget& budget) {
    const std::size_t h = (a.size + 1) / 2;
    const Span a0{a.number, a.from, h}, a1{a.number, a.from + h, a.size - h};
    const Span b0{b.number, b.from, h}, b1{b.number, b.from + h, b.size - h};
    const std::string& dir = r.dir();
    Stored zm(dir, 2 * h, budget.block);
    int sign = 0;
    {
        Stored da(dir, h, budget.block), db(dir, h, budget.block);
        sign = difference(da, a0, a1, budget) * difference(db, b1, b0, budget);
        if (sign != 0) product(zm, whole(da), whole(db), budget);
    }
    Stored z0(dir, 2 * h, budget.block), z2(dir, a.size + b.size - 2 * h, budget.block);
    product(z0, a0, b0, budget);
    product(z2, a1, b1, budget);
    join_karatsuba(r, z0, z2, zm, sign, h, budget);
}

// r <- a b, bn <= an / 2 (rounded up): a cut into pieces, each piece's
// product added into r at its place, lowest first. r is zero above the
// pieces done so far, so no carry leaves the piece's place. A piece is bn
// long, or as many times that as a product in memory holds: a short b would
// otherwise cost a file and a pass over r's blocks for every few words.
void by_pieces(Stored& r, const Span& a, const Span& b, const Budget& budget) {
    std::size_t s = b.size;
    while (2 * s < a.size && fits_in_memory(2 * s, b.size, budget)) s *= 2;
    const std::size_t w = window(budget);
    for (std::size_t at = 0; at < a.size; at += s) {
        const Span piece{a.number, a.from + at, std::min(s, a.size - at)};
        Stored part(r.dir(), piece.size + b.size, budget.block);
        product(part, piece, b, budget);
        Limbs acc(w), t(w);
        mp_limb_t carry = 0;
        for (std::size_t i = 0; i < part.size(); i += w) {
            const std::size_t c = std::min(w, part.size() - i);
            const mp_size_t m = static_cast<mp_size_t>(c);
            r.read(static_cast<std::ptrdiff_t>(at + i), c, acc.data());
            part.read(static_cast<std::ptrdiff_t>(i), c, t.data());
            mp_limb_t out = mpn_add_n(acc.data(), acc.data(), t.data(), m);
            if (carry) out += mpn_add_1(acc.data(), acc.data(), m, carry);
            carry = out;
            r.write(at + i, c, acc.data());
        }
    }
}

void product(Stored& r, Span a, Span b, const Budget& budget) {
    if (a.size < b.size) std::swap(a, b);
    if (b.size == 0) return;
    if (a.size + b.size <= ALWAYS_IN_MEMORY || fits_in_memory(a.size, b.size, budget))
        in_memory(r, a, b, budget);
    else if (Holding holding{}; prime_by_prime_fits(a.size, b.size, budget, &holding))
        prime_by_prime(r, a, b, budget.threads, budget.block, holding);
    else if (b.size <= (a.size + 1) / 2)
        by_pieces(r, a, b, budget);
    else
        karatsuba(r, a, b, budget);
}

// The check's residue of a span, streamed.
std::uint64_t residue(const Span& s, const Budget& budget) {
    const std::size_t w = window(budget);
    Limbs u(w);
    Dropped sum;
    for (std::size_t i = 0; i < s.size; i += w) {
        const std::size_t c = std::min(w, s.size - i);
        read_span(s, static_cast<std::ptrdiff_t>(i), c, u.data());
        sum.add(u.data(), c);
    }
    return sum.residue();
}

void clear(Stored& r, const Budget& budget) {
    const std::size_t w = window(budget);
    const Limbs zeros(w, 0);
    for (std::size_t i = 0; i < r.size(); i += w) r.write(i, std::min(w, r.size() - i), zeros.data());
}

}  // namespace

bool fits_in_memory(std::size_t an, std::size_t bn, const Budget& budget) {
    // The operands, the result, the scratch, and a streaming pass's buffers
    // still held by the caller.
    const std::size_t bytes = 2 * (an + bn) * sizeof(mp_limb_t) + scratch_bytes(an, bn, budget.threads) +
                              2 * window(budget) * sizeof(mp_limb_t);
    return bytes <= budget.bytes;
}

void mul_stored(Stored& r, Span a, Span b, const Budget& budget) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) clear(r, budget);
        product(r, a, b, budget);
        if (check_mul(residue(a, budget), residue(b, budget)) == residue(whole(r), budget)) return;
    }
    throw StoreError(r.dir() + ": a product of numbers on disk failed its check twice");
}

}  // namespace mul
