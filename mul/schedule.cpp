#include "schedule.h"

#include <algorithm>
#include <atomic>

#include "dispatch.h"
#include "kernels.h"
#include "remainder.h"
#include "team.h"
#include "twiddles.h"

namespace mul {

namespace {

// The remaindering's parts a thread, where several share it, and at most
// in all.
constexpr int REMAINDERING_PARTS = 8, MAX_PARTS = 128;

std::atomic<bool> damage_carry{false};

}  // namespace

bool damage_carry_now() { return damage_carry.exchange(false); }
void damage_next_carry() { damage_carry = true; }

Block transform_products(const Plan& plan, const Factor* f, int count, const mp_limb_t* b, std::size_t bn,
                         int threads, std::size_t& skip, Dropped* dropped) {
    const bool square = b == nullptr;
    if (square) bn = f[0].an;
    // Everything the team shares is sized from the threads that joined it.
    Team team(useful_threads(threads, plan));
    threads = team.size();
    const Kernels& kern = kernels();
    const Prime* p = primes();
    const std::size_t L = std::size_t{1} << plan.k, R = std::size_t{1} << (plan.k / 2), C = L / R;
    const std::size_t array = R * (C + ROW_PAD);
    const int column_bits = plan.k - plan.k / 2;
    const std::size_t per_thread = kernel_scratch_doubles(R, C);
    const std::size_t coefficients[2] = {
        chunks(f[0].an, plan.b) + chunks(bn, plan.b) - 1,
        count > 1 ? chunks(f[1].an, plan.b) + chunks(bn, plan.b) - 1 : 0};
    // The coefficients below the words kept, a multiple of 8 (the most that
    // start at or below word skip), and the word the next starts at, which
    // is then the first kept: 0 where that would drop fewer than 128 words.
    std::size_t below = 0;
    if (skip > 0 && !f[0].r && count == 1) {
        below = std::min(coefficients[0], (64 * (skip + 1) - 1) / plan.b) / 8 * 8;
        if (below * plan.b / 64 < 128) below = 0;
    }
    skip = below * plan.b / 64;
    const Layout place = layout(plan, square, threads, count, f[0].an, bn, f[0].r ? 0 : f[0].an + bn - skip);
    Block block(place.doubles);
    mp_limb_t* r[2] = {f[0].r ? f[0].r : reinterpret_cast<mp_limb_t*>(block.data), count > 1 ? f[1].r : nullptr};
    double* residues[2][MAX_PRIMES];
    const Prime* prime_list[MAX_PRIMES];
    for (int q = 0; q < plan.np; ++q) {
        for (int j = 0; j < count; ++j) residues[j][q] = block.data + place.residues + (j * plan.np + q) * array;
        prime_list[q] = &p[q];
    }
    const int own_others = other_transforms(plan, square, threads);
    const bool whole = own_others == plan.np;  // one per prime, cut at once
    double* others = block.data + place.others;
    double* buffers = block.data + place.buffers;
    double* other_residues[MAX_PRIMES];
    for (int q = 0; q < plan.np; ++q) other_residues[q] = others + (whole ? q * array : 0);

    // Coefficients of each product in parts whose words start where their
    // first bit is, so that parts summed side by side write apart; the
    // dropped coefficients in parts of their own, in proportion, each at
    // least 128 words wide. Several parts a thread, taken by whichever
    // thread is free: a thread slowed by the machine then makes fewer. What
    // the parts leave (carries, dropped parts' bottoms) is kept in this
    // frame: small blocks from the heap, made between a product's scratch
    // blocks, can keep the heap from reusing the space those leave (at 10^7
    // digits a fifth more memory at the peak).
    const std::size_t n[2] = {f[0].an + bn, count > 1 ? f[1].an + bn : 0};
    const int parts = threads > 1 ? std::min(REMAINDERING_PARTS * threads, MAX_PARTS) : 1;
    Part tasks[2 * MAX_PARTS];
    int task_count = 0;
    const auto cut = [&](int j, std::size_t from, std::size_t to, int pieces, bool dropped_part) {
        for (int i = 0; i < pieces; ++i) {
            const std::size_t first = from + share_start(to - from, i, pieces, 8),
                              last = i + 1 == pieces ? to : from + share_start(to - from, i + 1, pieces, 8);
            tasks[task_count++] = {j, first, last, std::min(n[j], first * plan.b / 64), 0, dropped_part};
        }
    };
    if (below > 0) {
        const int low_parts = static_cast<int>(std::max<std::size_t>(
            1, std::min<std::size_t>(skip / 128, (parts * below + coefficients[0] / 2) / coefficients[0])));
        cut(0, 0, below, low_parts, true);
        cut(0, below, coefficients[0], std::max(1, parts - low_parts), false);
    } else {
        for (int j = 0; j < count; ++j) cut(j, 0, coefficients[j], parts, false);
    }
    for (int task = 0; task < task_count; ++task) {
        const bool last = task + 1 == task_count || tasks[task + 1].j != tasks[task].j;
        tasks[task].hi = last ? n[tasks[task].j] : tasks[task + 1].lo;
    }
    mp_limb_t spill[16 * 2 * MAX_PARTS];
    std::fill(spill, spill + 16 * task_count, mp_limb_t{0});
    Below dropped_parts[MAX_PARTS];
    std::atomic<int> next_part{0};
    team.run([&](int t, int size) {
        double* scratch = buffers + t * per_thread;
        double* other = others + (own_others > 1 && !whole ? t * array : 0);
        const int paired = paired_primes(plan, size);
        const auto range = [&](std::size_t total, std::size_t unit, auto pass) {
            pass(share_start(total, t, size, unit), t + 1 == size ? total : share_start(total, t + 1, size, unit));
        };
        // This thread's primes t, t + size, ... below `paired`, whole; its
        // part of the shared primes' chunks. Each a's chunks cut once for all.
        double* mine[2][MAX_PRIMES];
        double* my_others[MAX_PRIMES];
        const Prime* my_primes[MAX_PRIMES];
        int mine_count = 0;
        for (int q = t; q < paired; q += size, ++mine_count) {
            for (int j = 0; j < count; ++j) mine[j][mine_count] = residues[j][q];
            my_others[mine_count] = other_residues[q];
            my_primes[mine_count] = &p[q];
        }
        for (int j = 0; j < count; ++j) kern.load(mine[j], my_primes, mine_count, 0, L, column_bits, f[j].a, f[j].an, plan.b);
        if (whole) kern.load(my_others, my_primes, mine_count, 0, L, column_bits, b, bn, plan.b);
        if (paired < plan.np)
            range(L, 8, [&](std::size_t from, std::size_t to) {
                for (int j = 0; j < count; ++j)
                    kern.load(residues[j] + paired, prime_list + paired, plan.np - paired, from, to, column_bits,
                              f[j].a, f[j].an, plan.b);
                if (whole)
                    kern.load(other_residues + paired, prime_list + paired, plan.np - paired, from, to, column_bits,
                              b, bn, plan.b);
            });
        // Each prime: the forward column pass of every a, the other
        // operand's whole transform, then each a's row pass, pointwise
        // product and inverse row pass block by block (row_products), and
        // its inverse column pass.
        for (int q = t; q < paired; q += size) {
            const Twiddles forward = twiddles(q, plan.k, false), inverse = twiddles(q, plan.k, true);
            for (int j = 0; j < count; ++j) kern.columns(residues[j][q], forward, p[q], scratch, false, 0, C / 8);
            if (!square) {
                if (whole)
                    other = other_residues[q];
                else
                    kern.load(&other, &prime_list[q], 1, 0, L, column_bits, b, bn, plan.b);
                kern.columns(other, forward, p[q], scratch, false, 0, C / 8);
                kern.rows(other, forward, p[q], scratch, 0, R / 8);
            }
            for (int j = 0; j < count; ++j) {
                kern.row_products(residues[j][q], square ? nullptr : other, forward, p[q], scratch, 0, R / 8);
                kern.columns(residues[j][q], inverse, p[q], scratch, true, 0, C / 8);
            }
        }
        team.barrier();
        // The shared primes the same way, each pass split among the team,
        // a barrier where a pass reads what another thread wrote.
        for (int q = paired; q < plan.np; ++q) {
            const Twiddles forward = twiddles(q, plan.k, false), inverse = twiddles(q, plan.k, true);
            const auto pass = [&](std::size_t total, std::size_t unit, auto work) {
                range(total, unit, work);
                team.barrier();
            };
            const auto columns = [&](double* data, const Twiddles& tw, bool back) {
                pass(C / 8, 1, [&](std::size_t from, std::size_t to) { kern.columns(data, tw, p[q], scratch, back, from, to); });
            };
            for (int j = 0; j < count; ++j) columns(residues[j][q], forward, false);
            double* shared = other_residues[q];
            if (!square) {
                if (!whole)
                    pass(L, 8, [&](std::size_t from, std::size_t to) {
                        kern.load(&shared, &prime_list[q], 1, from, to, column_bits, b, bn, plan.b);
                    });
                columns(shared, forward, false);
                pass(R / 8, 1, [&](std::size_t from, std::size_t to) { kern.rows(shared, forward, p[q], scratch, from, to); });
            }
            for (int j = 0; j < count; ++j) {
                pass(R / 8, 1, [&](std::size_t from, std::size_t to) {
                    kern.row_products(residues[j][q], square ? nullptr : shared, forward, p[q], scratch, from, to);
                });
                columns(residues[j][q], inverse, true);
            }
        }
        // The remaindering, in parts taken in turn (on one thread in order,
        // as the kept words over the first prime's residues need).
        for (int task; (task = next_part++) < task_count;) {
            const Part& part = tasks[task];
            double* const* y = residues[part.j];
            kern.garner(y, plan.np, p, part.first, std::min((part.last + 7) / 8 * 8, L), column_bits);
            const Digits digits{y, plan.np, p, column_bits};
            if (part.dropped)
                accumulate_below(digits, plan.b, part, dropped_parts[task], &spill[16 * task]);
            else
                accumulate(r[part.j], part.j == 0 ? skip : 0, part.lo, part.hi, &spill[16 * task], digits, plan.b,
                           part.first, part.last);
        }
    });
    // The dropped parts' carry into the first word kept; each kept part's
    // carries above its words into the next part's words.
    int kept = 0;
    if (below > 0) {
        while (tasks[kept].dropped) ++kept;
        mp_limb_t carry[BOTTOM];
        join_dropped(tasks, kept, dropped_parts, spill, dropped, carry);
        if (damage_carry_now()) carry[0] ^= 1;
        mpn_add(r[0], r[0], static_cast<mp_size_t>(n[0] - skip), carry, BOTTOM);
    }
    const std::size_t base[2] = {skip, 0};
    join_kept(tasks + kept, task_count - kept, spill + 16 * kept, r, base, n);
    return block;
}

}  // namespace mul
