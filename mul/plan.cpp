#include "plan.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dispatch.h"
#include "kernels.h"

namespace mul {

namespace {

// The cheapest plan that is exact. A coefficient of the product of chunk
// sequences of lengths na, nb is a sum of min(na, nb) products of two chunks
// below 2^b, so below min(na, nb) 2^(2b); the remaindering recovers it
// exactly when that is below P = p_0 ... p_(np-1). With np primes to choose
// from and b free, the coefficient count rarely lands just past a power of
// two: a product a little longer takes one prime more rather than a
// transform twice as long.
Plan choose_plan(std::size_t an, std::size_t bn, bool square) {
    static const auto log2_P = [] {
        const Prime* p = primes();
        std::array<double, MAX_PRIMES + 1> sums{};
        for (int q = 0; q < MAX_PRIMES; ++q) sums[q + 1] = sums[q] + std::log2(static_cast<double>(p[q].p));
        return sums;
    }();
    const int transforms = square ? 2 : 3;
    Plan best{0, 0, 0};
    double best_cost = 0;
    for (int k = MIN_K; k <= MAX_K; ++k) {
        const std::size_t L = std::size_t{1} << k;
        for (int np = 2; np <= MAX_PRIMES; ++np) {
            unsigned b = static_cast<unsigned>((64 * (an + bn) + L) / (L + 1));
            if (b == 0) b = 1;
            while (b <= MAX_CHUNK_BITS && chunks(an, b) + chunks(bn, b) - 1 > L) ++b;
            if (b > MAX_CHUNK_BITS) continue;
            const double shorter = static_cast<double>(std::min(chunks(an, b), chunks(bn, b)));
            // 2^-20 of a bit covers the rounding of the logarithms.
            if (std::log2(shorter) + 2.0 * b > log2_P[np] - 0x1p-20) continue;
            const double cost = plan_cost({np, b, k}, transforms, 1);
            if (best.np == 0 || cost < best_cost) {
                best = {np, b, k};
                best_cost = cost;
            }
        }
        if (best.np != 0 && k > best.k + 2) break;
    }
    return best;
}

}  // namespace

double plan_cost(const Plan& plan, double transforms, int products) {
    const double L = std::ldexp(1.0, plan.k), np = plan.np;
    return L * (np * transforms * (plan.k + 2) + products * (0.5 * np * np + 3.0 * np));
}

Plan product_plan(std::size_t an, std::size_t bn, bool square) {
    if (!long_enough(an, bn)) return {0, 0, 0};
    // A caller asks for the same lengths' plan several times over (whether
    // to use the engine, then the product, its check): chosen once.
    thread_local struct {
        std::size_t an = 0, bn = 0;
        bool square = false;
        Plan plan{0, 0, 0};
    } last;
    if (last.an != an || last.bn != bn || last.square != square) last = {an, bn, square, choose_plan(an, bn, square)};
    return last.plan;
}

int other_transforms(const Plan& plan, bool square, int threads) {
    if (square) return 0;
    if (plan.k < WHOLE_K) return plan.np;
    return paired_primes(plan, threads) > 0 ? threads : 1;
}

Layout layout(const Plan& plan, bool square, int threads, int products, std::size_t an, std::size_t bn,
              std::size_t held) {
    const std::size_t L = std::size_t{1} << plan.k, R = std::size_t{1} << (plan.k / 2), C = L / R;
    const std::size_t array = R * (C + ROW_PAD), residues = products * plan.np * array;
    const std::size_t coefficients = chunks(an, plan.b) + chunks(bn, plan.b) - 1;
    std::size_t front = held;
    if (held > 0 && threads == 1 && plan.b >= 64) front = held + 10 - std::min(coefficients, held + 10);
    const std::size_t other_doubles = other_transforms(plan, square, threads) * array;
    Layout at{};
    at.residues = front;
    at.others = other_doubles <= front ? 0 : front + residues;
    at.buffers = front + residues + (other_doubles <= front ? 0 : other_doubles);
    at.doubles = std::max(at.buffers + threads * kernel_scratch_doubles(R, C), held);
    return at;
}

}  // namespace mul
