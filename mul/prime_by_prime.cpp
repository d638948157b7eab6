#include "prime_by_prime.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "dispatch.h"
#include "kernels.h"
#include "plan.h"
#include "remainder.h"
#include "scratch.h"
#include "team.h"
#include "twiddles.h"

namespace mul {

namespace {

// Operand words a thread reads for its chunks at once, at most.
constexpr std::size_t LOAD_WORDS = std::size_t{1} << 19;

// The transform's array: R rows of C, S = C + ROW_PAD doubles apart. Rows
// are whole windows' units: a window from row r on starts at coefficient
// r C, a multiple of 64 (C >= 2^7), so at a word's first bit, and its
// residues lie in one stretch of the array from padded(r C) on.
struct Grid {
    Plan plan;
    std::size_t L, R, C, S, array;
    int column_bits;
    explicit Grid(const Plan& p)
        : plan(p),
          L(std::size_t{1} << p.k),
          R(std::size_t{1} << (p.k / 2)),
          C(L / R),
          S(C + ROW_PAD),
          array(R * S),
          column_bits(p.k - p.k / 2) {}
};

constexpr int LEAST_K = 14;

// The one block both phases use: the transforms held (two, or one and each
// thread's `second_rows` rows of the other read back) and each thread's
// kernel scratch; then each thread's window of the remaindering, `rows`
// rows of every prime's residues and the words they make. Besides it, each
// thread's operand words for `load_rows` rows of chunks.
struct Memory {
    std::size_t per_thread, rows, window, doubles, load_rows, second_rows;
    Memory(const Grid& g, int size, bool second_transform) {
        const std::size_t threads = static_cast<std::size_t>(size), np = static_cast<std::size_t>(g.plan.np);
        per_thread = kernel_scratch_doubles(g.R, g.C);
        // Operand words read at once: LOAD_WORDS, or an eighth of a
        // transform's array between the threads where that is less.
        const std::size_t row_words = g.C * g.plan.b / 64;
        load_rows = std::max<std::size_t>(1, std::min(LOAD_WORDS, g.array / (8 * threads)) / row_words);
        rows = std::max<std::size_t>(1, g.R / (np * threads));
        window = np * rows * g.S + rows * g.C * g.plan.b / 64 + 64;
        // Rows of the other transform read back at once: a multiple of the
        // row blocks (8 rows), an eighth of the array between the threads.
        second_rows = second_transform ? 0 : std::max<std::size_t>(8, g.R / (8 * threads) / 8 * 8);
        const std::size_t held = second_transform ? 2 * g.array : g.array + threads * second_rows * g.S;
        doubles = std::max(held + threads * per_thread, threads * window);
    }
};

// Chunks of rows [r0, r1) of `span` into out (prime `prime`'s array): the
// words under them read into `words`, then cut as an operand of their own
// (a window's chunks start and end at word boundaries).
// An operand: on disk, and where it was read in, in memory.
struct Operand {
    Span span;
    const mp_limb_t* limbs;
};

void load_rows(const Kernels& kern, const Grid& g, std::size_t step, const Prime* prime, double* out,
               const Operand& operand, std::size_t r0, std::size_t r1, std::vector<mp_limb_t>& words) {
    const unsigned b = g.plan.b;
    const Span& span = operand.span;
    if (operand.limbs) {
        kern.load(&out, &prime, 1, r0 * g.C, r1 * g.C, g.column_bits, operand.limbs, span.size, b);
        return;
    }
    for (std::size_t r = r0; r < r1; r += step) {
        const std::size_t rows = std::min(step, r1 - r), first = r * g.C * b / 64, count = rows * g.C * b / 64;
        words.resize(count);
        read_span(span, static_cast<std::ptrdiff_t>(first), count, words.data());
        double* at = out + r * g.S;
        kern.load(&at, &prime, 1, 0, rows * g.C, g.column_bits, words.data(), count, b);
    }
}

// words + spill (16 words) into words (n of them); what lies above them is
// added to next (16 words).
void carry_in(mp_limb_t* words, std::size_t n, const mp_limb_t* spill, mp_limb_t* next) {
    mp_limb_t sum[34] = {};
    const std::size_t low = std::min<std::size_t>(n, 16);
    std::copy(words, words + low, sum);
    mpn_add(sum, sum, 17, spill, 16);
    std::copy(sum, sum + low, words);
    if (n > 16) {
        const mp_limb_t carry = sum[16];
        if (carry && mpn_add_1(words + 16, words + 16, static_cast<mp_size_t>(n - 16), carry)) mpn_add_1(next, next, 16, 1);
    } else {
        mpn_add(next, next, 16, sum + n, static_cast<mp_size_t>(17 - n));
    }
}

}  // namespace

bool prime_by_prime_applies(std::size_t an, std::size_t bn) {
    const Plan plan = product_plan(std::max(an, bn), std::min(an, bn), false);
    return plan.np != 0 && plan.k >= LEAST_K;
}

std::size_t prime_by_prime_bytes(std::size_t an, std::size_t bn, int threads, Holding holding) {
    const Grid g(product_plan(std::max(an, bn), std::min(an, bn), false));
    const int team = useful_threads(threads, g.plan);
    const Memory m(g, team, holding.second_transform);
    if (holding.operands) return m.doubles * sizeof(double) + (an + bn) * sizeof(mp_limb_t);
    return (m.doubles + static_cast<std::size_t>(team) * m.load_rows * g.C * g.plan.b / 64) * sizeof(double);
}

void prime_by_prime(Stored& r, const Span& a_in, const Span& b_in, int threads, std::size_t block, Holding holding) {
    // The longer first, read in once where asked.
    std::vector<mp_limb_t> held[2];
    Operand in[2] = {{a_in.size >= b_in.size ? a_in : b_in, nullptr}, {a_in.size >= b_in.size ? b_in : a_in, nullptr}};
    if (holding.operands)
        for (int i = 0; i < 2; ++i) {
            held[i].resize(in[i].span.size);
            read_span(in[i].span, 0, in[i].span.size, held[i].data());
            in[i].limbs = held[i].data();
        }
    const Operand& a = in[0];
    const Operand& b = in[1];
    const Grid g(product_plan(a.span.size, b.span.size, false));
    const int np = g.plan.np;
    const Kernels& kern = kernels();
    const Prime* p = primes();
    Team team(useful_threads(threads, g.plan));
    const int size = team.size();

    // Each prime's product residues, to a file of their own.
    std::vector<std::unique_ptr<Stored>> residues;
    for (int q = 0; q < np; ++q) residues.push_back(std::make_unique<Stored>(r.dir(), g.array, block));
    const Memory m(g, size, holding.second_transform);
    Block memory(m.doubles);
    double* x = memory.data;
    // The second transform: after x, or on disk with each thread's rows of
    // it read back after x.
    double* y = x + g.array;
    std::unique_ptr<Stored> second;
    if (!holding.second_transform) second = std::make_unique<Stored>(r.dir(), g.array, block);
    double* const scratch_base = x + (holding.second_transform ? 2 * g.array : g.array + size * m.second_rows * g.S);
    // Each prime's residues are written on a thread of their own while the
    // next prime's b is transformed (into y, free by then); x is taken again
    // once the write is done.
    std::thread writer;
    std::exception_ptr write_error;
    struct Joined {
        std::thread& thread;
        ~Joined() {
            if (thread.joinable()) thread.join();
        }
    } joined{writer};
    const auto finish_write = [&] {
        if (writer.joinable()) writer.join();
        if (write_error) std::rethrow_exception(write_error);
    };
    const auto start_write = [&](int q) {
        const auto write = [&, q] {
            try {
                residues[q]->write(0, g.array, reinterpret_cast<const mp_limb_t*>(x));
            } catch (...) {
                write_error = std::current_exception();
            }
        };
        try {
            writer = std::thread(write);
        } catch (const std::system_error&) {
            write();  // no thread to be had: here
        }
    };
    team.run([&](int t, int n) {
        double* scratch = scratch_base + t * m.per_thread;
        double* rows_back = x + g.array + t * m.second_rows * g.S;  // without the second transform
        std::vector<mp_limb_t> words;
        const auto pass = [&](std::size_t total, auto work) {
            work(share_start(total, t, n), t + 1 == n ? total : share_start(total, t + 1, n));
            team.barrier();
        };
        // x into `file`, the team writing whole blocks side by side.
        const auto write_shared = [&](Stored& file) {
            const std::size_t per = file.block(), blocks = (g.array + per - 1) / per;
            pass(blocks, [&](std::size_t from, std::size_t to) {
                const std::size_t first = from * per, last = std::min(g.array, to * per);
                if (first < last) file.write(first, last - first, reinterpret_cast<const mp_limb_t*>(x) + first);
            });
        };
        for (int q = 0; q < np; ++q) {
            const Twiddles forward = twiddles(q, g.plan.k, false), inverse = twiddles(q, g.plan.k, true);
            const auto columns = [&](double* data, const Twiddles& tw, bool back) {
                pass(g.C / 8, [&](std::size_t from, std::size_t to) {
                    kern.columns(data, tw, p[q], scratch, back, from, to);
                });
            };
            const auto load = [&](double* out, const Operand& operand) {
                pass(g.R, [&](std::size_t from, std::size_t to) {
                    load_rows(kern, g, m.load_rows, &p[q], out, operand, from, to, words);
                });
            };
            if (holding.second_transform) {
                load(y, b);
                columns(y, forward, false);
                pass(g.R / 8, [&](std::size_t from, std::size_t to) { kern.rows(y, forward, p[q], scratch, from, to); });
                if (t == 0) finish_write();
                team.barrier();
                load(x, a);
                columns(x, forward, false);
                pass(g.R / 8, [&](std::size_t from, std::size_t to) {
                    kern.row_products(x, y, forward, p[q], scratch, from, to);
                });
            } else {
                // b's transform made in x and written; a's in x; then each
                // block of rows times b's, read back.
                load(x, b);
                columns(x, forward, false);
                pass(g.R / 8, [&](std::size_t from, std::size_t to) { kern.rows(x, forward, p[q], scratch, from, to); });
                write_shared(*second);
                load(x, a);
                columns(x, forward, false);
                pass(g.R / 8, [&](std::size_t from, std::size_t to) {
                    const std::size_t step = m.second_rows / 8;
                    for (std::size_t at = from; at < to; at += step) {
                        const std::size_t blocks = std::min(step, to - at);
                        second->read(static_cast<std::ptrdiff_t>(8 * at * g.S), 8 * blocks * g.S,
                                     reinterpret_cast<mp_limb_t*>(rows_back));
                        kern.row_products(x + 8 * at * g.S, rows_back, forward, p[q], scratch, 0, blocks);
                    }
                });
            }
            columns(x, inverse, true);
            if (holding.second_transform) {
                if (t == 0) start_write(q);
            } else {
                write_shared(*residues[q]);  // x is wanted at once
            }
        }
        if (t == 0) finish_write();
    });

    // The remaindering, window by window in the same memory: `size` windows
    // side by side, each thread its own, joined and written in order.
    const unsigned bits = g.plan.b;
    const std::size_t n = a.span.size + b.span.size;
    const std::size_t coefficients = chunks(a.span.size, bits) + chunks(b.span.size, bits) - 1;
    const std::size_t span = m.rows * g.C, windows = (coefficients + span - 1) / span;
    struct Window {
        double* y;
        mp_limb_t* words;
        mp_limb_t spill[16];
        std::size_t lo, hi;
    };
    std::vector<Window> side(static_cast<std::size_t>(size));
    for (int t = 0; t < size; ++t) {
        side[t].y = memory.data + t * m.window;
        side[t].words = reinterpret_cast<mp_limb_t*>(side[t].y + static_cast<std::size_t>(np) * m.rows * g.S);
    }
    mp_limb_t before[16] = {};  // the carries above the last window written
    for (std::size_t first = 0; first < windows; first += static_cast<std::size_t>(size)) {
        team.run([&](int t, int) {
            const std::size_t index = first + static_cast<std::size_t>(t);
            if (index >= windows) return;
            Window& w = side[static_cast<std::size_t>(t)];
            const std::size_t from = index * span, to = std::min(coefficients, from + span);
            const std::size_t filled = (to - from + g.C - 1) / g.C;  // rows
            double* digits[MAX_PRIMES];
            for (int q = 0; q < np; ++q) {
                digits[q] = w.y + static_cast<std::size_t>(q) * m.rows * g.S;
                residues[q]->read(static_cast<std::ptrdiff_t>(index * m.rows * g.S), filled * g.S,
                                  reinterpret_cast<mp_limb_t*>(digits[q]));
            }
            kern.garner(digits, np, p, 0, (to - from + 7) / 8 * 8, g.column_bits);
            w.lo = from * bits / 64;
            w.hi = index + 1 == windows ? n : to * bits / 64;
            std::fill(w.spill, w.spill + 16, mp_limb_t{0});
            accumulate(w.words, 0, 0, w.hi - w.lo, w.spill, Digits{digits, np, p, g.column_bits}, bits, 0, to - from);
        });
        for (std::size_t index = first; index < std::min(windows, first + static_cast<std::size_t>(size)); ++index) {
            Window& w = side[index - first];
            carry_in(w.words, w.hi - w.lo, before, w.spill);
            r.write(w.lo, w.hi - w.lo, w.words);
            std::copy(w.spill, w.spill + 16, before);
        }
    }
}

}  // namespace mul
