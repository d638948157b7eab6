// The engine's public face (mul.h) and the checked product: every product
// the transform makes is checked modulo the check's prime and, should the
// check fail, made again by GMP.

#include "mul.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "check.h"
#include "plan.h"
#include "schedule.h"
#include "scratch.h"
#include "spill.h"

namespace mul {

namespace {

std::atomic<std::uint64_t> failures{0}, refailures{0};
std::atomic<bool> damage{false};

// The longer operand first, as mpn_mul and the plans take them (b null: a
// square, left alone).
void longer_first(const mp_limb_t*& a, std::size_t& an, const mp_limb_t*& b, std::size_t& bn) {
    if (b && an < bn) {
        std::swap(a, b);
        std::swap(an, bn);
    }
}

// GMP's product, or the square of a where b is null.
void gmp_product(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn) {
    longer_first(a, an, b, bn);
    if (b == nullptr)
        mpn_sqr(r, a, static_cast<mp_size_t>(an));
    else
        mpn_mul(r, a, static_cast<mp_size_t>(an), b, static_cast<mp_size_t>(bn));
}

// A transform's product {r, an + bn} that failed its check, made again by
// GMP and checked once more: a failure there means the machine itself did
// not multiply correctly.
void remake(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn, int team) {
    ++failures;
    gmp_product(r, a, an, b, bn);
    if (!product_holds(a, an, b ? b : a, b ? bn : an, r, an + (b ? bn : an), team)) ++refailures;
}

// The transform's product by `plan`, checked (b null: a square):
// into r; or, where r is null, kept in the block returned, the product's
// words from `low` up from the block's word *from on. Where at least 64
// words stay above low, most words below low are not kept (the check covers
// them as they are dropped).
Block checked_product(const Plan& plan, mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b,
                      std::size_t bn, int threads, std::size_t low = 0, std::size_t* from = nullptr) {
    const std::size_t n = an + (b ? bn : an);
    const int team = useful_threads(threads, plan);
    std::size_t skip = !r && low + 64 <= n ? low : 0;
    Dropped dropped;
    const Factor factor{r, a, an};
    Block block = transform_products(plan, &factor, 1, b, bn, threads, skip, &dropped);
    if (!r) {
        r = reinterpret_cast<mp_limb_t*>(block.data);
        *from = low - skip;
    }
    const std::size_t held = n - skip;
    if (damage.exchange(false)) r[held / 2] ^= 1;
    const Dropped* below = skip > 0 ? &dropped : nullptr;
    if (product_holds(a, an, b ? b : a, b ? bn : an, r, held, team, below)) return block;
    if (skip == 0) {
        remake(r, a, an, b, bn, team);
        return block;
    }
    // GMP's product whole, its top words kept.
    ++failures;
    mp_limb_t* whole = static_cast<mp_limb_t*>(allocate_block(n * sizeof(mp_limb_t)));
    gmp_product(whole, a, an, b, bn);
    if (!product_holds(a, an, b ? b : a, b ? bn : an, whole, n, team)) ++refailures;
    std::memcpy(r, whole + skip, held * sizeof(mp_limb_t));
    release_block(whole, n * sizeof(mp_limb_t));
    return block;
}

// The plan two products with b in common are made by as a pair (b's
// transform made once, the shorter product by the longer's plan), where
// that costs less than each by its own and the two products' residues are
// not many; np 0 where they are made one after the other.
Plan pair_plan(std::size_t a1n, std::size_t a2n, std::size_t bn) {
    const Plan one = product_plan(a1n, bn, false), two = product_plan(a2n, bn, false);
    if (one.np == 0 || two.np == 0) return {0, 0, 0};
    const Plan both = product_plan(std::max(a1n, a2n), bn, false);
    if (both.k <= PAIR_MAX_K && plan_cost(both, 5, 2) < plan_cost(one, 3, 1) + plan_cost(two, 3, 1)) return both;
    return {0, 0, 0};
}

}  // namespace

bool uses_transform(std::size_t an, std::size_t bn) { return product_plan(an, bn, false).np != 0; }

void mul(mp_limb_t* rp, const mp_limb_t* ap, std::size_t an, const mp_limb_t* bp, std::size_t bn, int threads) {
    longer_first(ap, an, bp, bn);
    if (spills(an, bn, threads)) return spilled_product(rp, ap, an, bp, bn, threads, 0);
    const Plan plan = product_plan(an, bn, false);
    if (plan.np == 0)
        mpn_mul(rp, ap, static_cast<mp_size_t>(an), bp, static_cast<mp_size_t>(bn));
    else
        checked_product(plan, rp, ap, an, bp, bn, threads);
}

bool pairs(std::size_t a1n, std::size_t a2n, std::size_t bn) { return pair_plan(a1n, a2n, bn).np != 0; }

void mul_pair(mp_limb_t* r1, const mp_limb_t* a1, std::size_t a1n, mp_limb_t* r2, const mp_limb_t* a2,
              std::size_t a2n, const mp_limb_t* b, std::size_t bn, int threads) {
    const Factor f[2] = {{r1, a1, a1n}, {r2, a2, a2n}};
    const Plan plan = pair_plan(a1n, a2n, bn);
    if (plan.np == 0 || spills(a1n, bn, threads) || spills(a2n, bn, threads)) {
        for (const Factor& x : f) mul(x.r, x.a, x.an, b, bn, threads);
        return;
    }
    const int team = useful_threads(threads, plan);
    std::size_t skip = 0;
    transform_products(plan, f, 2, b, bn, threads, skip, nullptr);
    for (const Factor& x : f) {
        if (damage.exchange(false)) x.r[(x.an + bn) / 2] ^= 1;
        if (!product_holds(x.a, x.an, b, bn, x.r, x.an + bn, team)) remake(x.r, x.a, x.an, b, bn, team);
    }
}

void sqr(mp_limb_t* rp, const mp_limb_t* ap, std::size_t an, int threads) {
    if (spills(an, an, threads)) return spilled_product(rp, ap, an, nullptr, an, threads, 0);
    const Plan plan = product_plan(an, an, true);
    if (plan.np == 0)
        mpn_sqr(rp, ap, static_cast<mp_size_t>(an));
    else
        checked_product(plan, rp, ap, an, nullptr, 0, threads);
}

Product::Product(const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn, int threads,
                 std::size_t low) {
    longer_first(a, an, b, bn);
    const std::size_t n = an + (b ? bn : an);
    if (spills(an, b ? bn : an, threads)) {
        bytes_ = (n - low) * sizeof(mp_limb_t);
        base_ = words_ = static_cast<mp_limb_t*>(allocate_block(bytes_));
        try {
            spilled_product(base_, a, an, b, b ? bn : an, threads, low);
        } catch (...) {
            release_block(base_, bytes_);
            throw;
        }
        return;
    }
    const Plan plan = b ? product_plan(an, bn, false) : product_plan(an, an, true);
    if (plan.np != 0) {
        std::size_t from = 0;
        Block block = checked_product(plan, nullptr, a, an, b, bn, threads, low, &from);
        base_ = reinterpret_cast<mp_limb_t*>(block.data);
        words_ = base_ + from;
        bytes_ = block.bytes;
        block.data = nullptr;
        in_scratch_ = true;
        return;
    }
    bytes_ = (an + (b ? bn : an)) * sizeof(mp_limb_t);
    base_ = static_cast<mp_limb_t*>(allocate_block(bytes_));
    words_ = base_ + low;
    gmp_product(base_, a, an, b, bn);
}

Product::~Product() {
    if (in_scratch_)
        keep_or_release(reinterpret_cast<double*>(base_), bytes_);
    else
        release_block(base_, bytes_);
}

Shape shape(std::size_t an, std::size_t bn) {
    const Plan plan = product_plan(an, bn, false);
    return {plan.np, plan.np ? plan.b : 0, plan.np ? plan.k : 0};
}

int threads_for(std::size_t an, std::size_t bn, int threads) {
    const Plan plan = product_plan(an, bn, false);
    return plan.np ? useful_threads(threads, plan) : 1;
}

std::size_t scratch_bytes(std::size_t an, std::size_t bn, int threads) {
    const Plan plan = product_plan(an, bn, false);
    if (plan.np == 0) return 2 * (an + bn) * sizeof(mp_limb_t);
    return layout(plan, false, useful_threads(threads, plan), 1, an, bn, 0).doubles * sizeof(double);
}

std::uint64_t failed_checks() { return failures; }
std::uint64_t failed_rechecks() { return refailures; }

void damage_next_product() { damage = true; }

}  // namespace mul
