// The transform's kernels, written once over a vector type V of V::lanes
// doubles and compiled once per instruction set, each in a namespace of its
// own (NTT_ISA): include this only from such a file, after defining V.
//
// Arithmetic. Residues mod p, 2^49 < p < 2^50, are held as integer-valued
// doubles, signed. Every double below is an integer of magnitude < 2^53, so
// sums and differences of two of them are exact.
//  - reduce(x), |x| < 8p: the exact product x (1/p), with 1/p rounded, is
//    within 8 2^-53 = 2^-50 of x / p, so q, the integer nearest it (one
//    rounding: see nearest), is within 1/2 + 2^-50 of x / p and x - q p, an
//    integer of magnitude at most p/2 + 1, is formed exactly by one fused
//    multiply-add.
//    The inputs reduced here: sums and differences of two residues (< 2p),
//    the loading's sums (< 4p).
//  - mulmod(a, b), |a b| < 2p^2 < 2^101: h = a b rounded (an integer), l =
//    a b - h exactly (fused multiply-add: the error of a rounded product is
//    representable), |l| <= half an ulp of h <= 2^47. q, the integer nearest
//    h (1/p), is within 1/2 + 2^51 2^-53 = 3/4 of h / p, so h - q p, an
//    integer of magnitude at most 3p/4, is exact by the same argument, and
//    the result (h - q p) + l, below 3p/4 + 2^47 < p (2^47 < p/4), is exact.
//    Every caller keeps |a b| < 2p^2: residues below p times residues below
//    p, values below 2p times residues below p, or differences below 4p times
//    signed twiddles and constants at most p/2.
// So both map residues to residues of magnitude below p, and no step ever
// rounds: the residues are exact, on every instruction set alike.
//
// Transform. A length L = 2^k = R C is done as R C-point and C R-point
// transforms (the four-step method): columns of the R x C row-major array,
// eight at a time, each group copied into a buffer of R rows of 8 lanes
// (two groups a sweep down the array), transformed there (all butterflies
// between rows, so every lane does the same work), multiplied by the
// twiddles w_L^(rev(j) c) and copied back;
// then rows, eight at a time, transposed into a buffer of C rows of 8 lanes,
// transformed, and stored as they are. Each buffer fits the second-level
// cache for L up to 2^26; the data is read and written twice. The radix-2
// passes are decimation in frequency forward (natural order in, bit-reversed
// out) and decimation in time inverse (the reverse), so the scrambled order
// needs no permutation: the pointwise product does not care.

namespace mul {
namespace NTT_ISA {
namespace {

constexpr int W = 8;  // lanes of a buffer row

struct Mod {
    V p, pinv;
    explicit Mod(const Prime& prime) : p(V::set1(prime.pd)), pinv(V::set1(prime.pinv)) {}
    // The integer nearest x (1/p), |x (1/p)| < 2^51: the exact product plus
    // 1.5 2^52 lies in [2^52, 2^53), where doubles are the integers, so the
    // fused multiply-add rounds it once to the nearest integer; taking the
    // constant back off is exact.
    V nearest(V x) const {
        const V shift = V::set1(0x1.8p52);
        return V::sub(V::fma(x, pinv, shift), shift);
    }
    V reduce(V x) const { return V::fnma(nearest(x), p, x); }
    V mulmod(V a, V b) const {
        const V h = V::mul(a, b), l = V::fms(a, b, h);
        const V q = nearest(h);
        return V::add(V::fnma(q, p, h), l);
    }
};

// The passes below reduce their sums at every other level only, counted
// from the last (which reduces): a level that does not takes values below p
// and leaves them below 2p, and the next one, which does, takes those.

// Odd log2(len): the levels that leave their sums unreduced.
inline bool lazy_level(std::size_t len) { return (len & 0xAAAAAAAAAAAAAAAAull) != 0; }

// One level over n rows of 8 lanes: butterfly(x, y, t) on every pair of
// rows len apart, t = w_{2 len}^j for the j-th pair of its block.
template <class Butterfly>
void level(double* buf, std::size_t n, std::size_t len, const double* w, Butterfly butterfly) {
    for (std::size_t s = 0; s < n; s += 2 * len)
        for (std::size_t j = 0; j < len; ++j) {
            const V t = V::set1(w[len + j]);
            double* x = buf + W * (s + j);
            double* y = x + W * len;
            for (int v = 0; v < W; v += V::lanes) butterfly(x + v, y + v, t);
        }
}

// Decimation in frequency: (x, y) <- (x + y, (x - y) t). Unreduced, sums
// below 2p; reduced, differences below 4p into mulmod.
template <bool REDUCE>
void dif_level(double* buf, std::size_t n, std::size_t len, const double* w, const Mod& m) {
    level(buf, n, len, w, [&m](double* x, double* y, V t) {
        const V a = V::load(x), b = V::load(y);
        V::store(x, REDUCE ? m.reduce(V::add(a, b)) : V::add(a, b));
        V::store(y, m.mulmod(V::sub(a, b), t));
    });
}

// four(p, tL, t2L, t3L) on each four rows L apart of every block of 4L
// rows, p[i] pointing at row s + j + i L (lanes v to v + V::lanes), with
// the twiddles w_{2L}^j, w_{4L}^j and w_{4L}^(j + L).
template <class Four>
void four_rows(double* buf, std::size_t n, std::size_t L, const double* w, Four four) {
    for (std::size_t s = 0; s < n; s += 4 * L)
        for (std::size_t j = 0; j < L; ++j) {
            const V tL = V::set1(w[L + j]), t2L = V::set1(w[2 * L + j]), t3L = V::set1(w[3 * L + j]);
            double* x = buf + W * (s + j);
            for (int v = 0; v < W; v += V::lanes) {
                double* const p[4] = {x + v, x + v + W * L, x + v + 2 * W * L, x + v + 3 * W * L};
                four(p, tL, t2L, t3L);
            }
        }
}

// Two decimation-in-frequency levels at once, len 2L then L, on each four
// rows L apart: the same operations on the same values as the two levels
// one after the other, in registers, so that the buffer is read and written
// once for both.
template <bool REDUCE_A, bool REDUCE_B>
void dif_levels(double* buf, std::size_t n, std::size_t L, const double* w, const Mod& m) {
    four_rows(buf, n, L, w, [&m](double* const* p, V tL, V t2L, V t3L) {
        const V x0 = V::load(p[0]), x1 = V::load(p[1]), x2 = V::load(p[2]), x3 = V::load(p[3]);
        // len 2L: (x0, x2) and (x1, x3)
        const V y0 = REDUCE_A ? m.reduce(V::add(x0, x2)) : V::add(x0, x2);
        const V y2 = m.mulmod(V::sub(x0, x2), t2L);
        const V y1 = REDUCE_A ? m.reduce(V::add(x1, x3)) : V::add(x1, x3);
        const V y3 = m.mulmod(V::sub(x1, x3), t3L);
        // len L: (y0, y1) and (y2, y3)
        V::store(p[0], REDUCE_B ? m.reduce(V::add(y0, y1)) : V::add(y0, y1));
        V::store(p[1], m.mulmod(V::sub(y0, y1), tL));
        V::store(p[2], REDUCE_B ? m.reduce(V::add(y2, y3)) : V::add(y2, y3));
        V::store(p[3], m.mulmod(V::sub(y2, y3), tL));
    });
}

// Radix-2 decimation in frequency over n rows of 8 lanes, w = w_fwd, its
// levels two at a time where two are left. Values of magnitude < p stay so.
void dif(double* buf, std::size_t n, const double* w, const Mod& m) {
    std::size_t len = n / 2;
    for (; len >= 2; len /= 4) {
        const bool a = !lazy_level(len), b = !lazy_level(len / 2);
        if (a && b)
            dif_levels<true, true>(buf, n, len / 2, w, m);
        else if (a)
            dif_levels<true, false>(buf, n, len / 2, w, m);
        else if (b)
            dif_levels<false, true>(buf, n, len / 2, w, m);
        else
            dif_levels<false, false>(buf, n, len / 2, w, m);
    }
    if (len == 1) {
        if (lazy_level(1))
            dif_level<false>(buf, n, 1, w, m);
        else
            dif_level<true>(buf, n, 1, w, m);
    }
}

// Decimation in time: (x, y) <- (x + y t, x - y t). Unreduced, both below
// 2p; reduced, y below 2p into mulmod and sums below 3p.
template <bool REDUCE>
void dit_level(double* buf, std::size_t n, std::size_t len, const double* w, const Mod& m) {
    level(buf, n, len, w, [&m](double* x, double* y, V t) {
        const V a = V::load(x), b = m.mulmod(V::load(y), t);
        V::store(x, REDUCE ? m.reduce(V::add(a, b)) : V::add(a, b));
        V::store(y, REDUCE ? m.reduce(V::sub(a, b)) : V::sub(a, b));
    });
}

// Two decimation-in-time levels at once, len L then 2L, as dif_levels.
template <bool REDUCE_A, bool REDUCE_B>
void dit_levels(double* buf, std::size_t n, std::size_t L, const double* w, const Mod& m) {
    const auto half = [&m](V x, V y, V t, V& sum, V& difference, bool reduce) {
        const V u = m.mulmod(y, t);
        sum = reduce ? m.reduce(V::add(x, u)) : V::add(x, u);
        difference = reduce ? m.reduce(V::sub(x, u)) : V::sub(x, u);
    };
    four_rows(buf, n, L, w, [&half](double* const* p, V tL, V t2L, V t3L) {
        V y0, y1, y2, y3, z0, z1, z2, z3;
        // len L: (x0, x1) and (x2, x3); then len 2L: (y0, y2) and (y1, y3)
        half(V::load(p[0]), V::load(p[1]), tL, y0, y1, REDUCE_A);
        half(V::load(p[2]), V::load(p[3]), tL, y2, y3, REDUCE_A);
        half(y0, y2, t2L, z0, z2, REDUCE_B);
        half(y1, y3, t3L, z1, z3, REDUCE_B);
        V::store(p[0], z0);
        V::store(p[1], z1);
        V::store(p[2], z2);
        V::store(p[3], z3);
    });
}

// Radix-2 decimation in time, w = w_inv, its levels two at a time where two
// are left. Values of magnitude < p stay so.
void dit(double* buf, std::size_t n, const double* w, const Mod& m) {
    // Counted from the last level, len = n / 2.
    const bool odd = lazy_level(n / 2);
    const auto reduced = [odd](std::size_t len) { return lazy_level(len) == odd; };
    std::size_t len = 1;
    if (n > 1 && (__builtin_ctzll(n) & 1)) {
        // An odd number of levels: the first alone.
        if (reduced(1))
            dit_level<true>(buf, n, 1, w, m);
        else
            dit_level<false>(buf, n, 1, w, m);
        len = 2;
    }
    for (; len < n; len *= 4) {
        const bool a = reduced(len), b = reduced(2 * len);
        if (a && b)
            dit_levels<true, true>(buf, n, len, w, m);
        else if (a)
            dit_levels<true, false>(buf, n, len, w, m);
        else if (b)
            dit_levels<false, true>(buf, n, len, w, m);
        else
            dit_levels<false, false>(buf, n, len, w, m);
    }
}

// buf[r] *= tw[r] lane by lane, then tw[r] *= step[r]: the next column
// group's twiddles.
void twiddle(double* buf, double* tw, const double* step, std::size_t rows, const Mod& m) {
    for (std::size_t r = 0; r < rows; ++r) {
        const V s = V::set1(step[r]);
        for (int v = 0; v < W; v += V::lanes) {
            const V t = V::load(tw + W * r + v);
            V::store(buf + W * r + v, m.mulmod(V::load(buf + W * r + v), t));
            V::store(tw + W * r + v, m.mulmod(t, s));
        }
    }
}

void copy_rows(double* to, const double* from, std::size_t rows, std::size_t to_stride,
               std::size_t from_stride) {
    for (std::size_t r = 0; r < rows; ++r)
        for (int v = 0; v < W; v += V::lanes) V::store(to + r * to_stride + v, V::load(from + r * from_stride + v));
}

// `groups` adjacent column groups of the R x C array (rows S apart) from
// `column` on, into buffers of R rows of 8 lanes one after the other (back:
// the reverse), a row's lines together.
void copy_groups(double* buf, double* column, std::size_t R, std::size_t S, std::size_t groups, bool back) {
    constexpr std::size_t AHEAD = 16;
    for (std::size_t r = 0; r < R; ++r) {
        double* row = column + r * S;
        if (r + AHEAD < R) {
            if (back)
                __builtin_prefetch(row + AHEAD * S, 1);
            else
                __builtin_prefetch(row + AHEAD * S, 0);
        }
        for (std::size_t h = 0; h < groups; ++h) {
            double* b = buf + h * W * R + W * r;
            for (int v = 0; v < W; v += V::lanes) {
                if (back)
                    V::store(row + h * W + v, V::load(b + v));
                else
                    V::store(b + v, V::load(row + h * W + v));
            }
        }
    }
}

// Column groups [from, to) of the R x C array (group g: columns 8g to
// 8g + 7): forward, a decimation-in-frequency pass down each column and then
// the twiddles; inverse, the twiddles (with 1/L) and then the
// decimation-in-time pass. A group's twiddles are start[j] step[j]^g.
void columns(double* data, const Twiddles& tw, const Prime& prime, double* scratch, bool inverse,
             std::size_t from, std::size_t to) {
    const Mod m(prime);
    const std::size_t R = std::size_t{1} << tw.row_bits, C = (std::size_t{1} << tw.k) / R, S = C + ROW_PAD;
    double* buf = scratch;
    double* t = scratch + W * (2 * R > C ? 2 * R : C);
    for (std::size_t j = 0; j < R; ++j) {
        // step^from by squaring; every factor a residue below p, the step
        // itself at most p/2.
        V power = V::set1(1.0), base = V::set1(tw.step[j]);
        for (std::size_t e = from; e > 0; e /= 2) {
            if (e & 1) power = m.mulmod(power, base);
            base = m.mulmod(base, base);
        }
        for (int v = 0; v < W; v += V::lanes)
            V::store(t + W * j + v, m.mulmod(V::load(tw.start + W * j + v), power));
    }
    // Two groups at a time where there are two: each row's two lines come in
    // one sweep down the array, whose rows lie a power of two apart.
    for (std::size_t g = from; g < to; g += 2) {
        double* column = data + W * g;
        const std::size_t groups = g + 1 < to ? 2 : 1;
        copy_groups(buf, column, R, S, groups, false);
        for (std::size_t h = 0; h < groups; ++h) {
            double* b = buf + h * W * R;
            if (inverse) {
                twiddle(b, t, tw.step, R, m);
                dit(b, R, prime.w_inv, m);
            } else {
                dif(b, R, prime.w_fwd, m);
                twiddle(b, t, tw.step, R, m);
            }
        }
        copy_groups(buf, column, R, S, groups, true);
    }
}

// Row blocks [from, to) (block b: rows 8b to 8b + 7) of an array whose
// forward column pass is done: each block transposed into C rows of 8 lanes
// and a decimation-in-frequency pass made there, then
// - rows: the block stored as it is from its start (over the pads of its
//   first rows; the rest of the block keeps what it held): a finished
//   forward transform;
// - row_products: multiplied lane by lane by the same block of other's
//   finished transform (null: by itself), the decimation-in-time pass
//   made and the block transposed back: the inverse row pass of the
//   product, the block read and written once.
void forward_rows(double* buf, const double* block, std::size_t C, std::size_t S, const Mod& m,
                  const Prime& prime) {
    for (std::size_t c = 0; c < C; ++c)
        for (int i = 0; i < W; ++i) buf[W * c + i] = block[i * S + c];
    dif(buf, C, prime.w_fwd, m);
}

void rows(double* data, const Twiddles& tw, const Prime& prime, double* scratch, std::size_t from, std::size_t to) {
    const Mod m(prime);
    const std::size_t C = std::size_t{1} << (tw.k - tw.row_bits), S = C + ROW_PAD;
    for (std::size_t b = from; b < to; ++b) {
        double* block = data + W * b * S;
        forward_rows(scratch, block, C, S, m, prime);
        copy_rows(block, scratch, C, W, W);
    }
}

void row_products(double* data, const double* other, const Twiddles& tw, const Prime& prime, double* scratch,
                  std::size_t from, std::size_t to) {
    const Mod m(prime);
    const std::size_t C = std::size_t{1} << (tw.k - tw.row_bits), S = C + ROW_PAD;
    double* buf = scratch;
    for (std::size_t b = from; b < to; ++b) {
        double* block = data + W * b * S;
        forward_rows(buf, block, C, S, m, prime);
        const double* factor = other ? other + W * b * S : buf;
        for (std::size_t i = 0; i < W * C; i += V::lanes)
            V::store(buf + i, m.mulmod(V::load(buf + i), V::load(factor + i)));
        dit(buf, C, prime.w_inv, m);
        for (std::size_t c = 0; c < C; ++c)
            for (int i = 0; i < W; ++i) block[i * S + c] = buf[W * c + i];
    }
}

// Bits [offset, offset + width) of {a, an}, width <= 48; 0 past the end.
inline std::uint64_t bits_at(const mp_limb_t* a, std::size_t an, std::size_t offset, unsigned width) {
    const std::size_t w = offset / 64;
    const unsigned s = offset % 64;
    if (w >= an) return 0;
    std::uint64_t x = a[w] >> s;
    if (s > 64 - width && w + 1 < an) x |= a[w + 1] << (64 - s);
    return x & ((std::uint64_t{1} << width) - 1);
}

inline void zero_group(double* at) {
    for (int v = 0; v < W; v += V::lanes) V::store(at + v, V::set1(0.0));
}

// Chunk i is sum_k piece_k 2^(48 k), pieces of at most 48 bits, so below
// 2^48 < p: its residue is piece_0 + sum_k piece_k (2^(48 k) mod p), each
// product below 2^48 p/2 < p^2, the sum below 4p before its reduction. The
// pieces of eight chunks are cut once for all the primes.
void load(double* const* out, const Prime* const* primes, int count, std::size_t from, std::size_t to,
          int column_bits, const mp_limb_t* a, std::size_t an, unsigned b) {
    const std::size_t row_end = (std::size_t{1} << column_bits) - 1;
    const std::size_t chunks = (an * 64 + b - 1) / b;
    const unsigned pieces = (b + 47) / 48, last = b - 48 * (pieces - 1);
    const std::uint64_t full = (std::uint64_t{1} << 48) - 1, top = (std::uint64_t{1} << last) - 1;
    // V::bits reads freely where the 16 words from the fifth chunk's first
    // word lie inside the operand: groups of chunks from i with (i + 4) b +
    // 48 pieces + 16 64 <= 64 an, which covers every lane's two words.
    const std::size_t room = 64 * an, reach = 48 * pieces + 16 * 64 + 4 * b;
    const std::size_t inside = room >= reach ? (room - reach) / b + 1 : 0;  // group starts below it
    alignas(64) double piece[4][W];
    std::size_t i = from;
    for (; i < to && i < chunks; i += W) {
        if (i < inside) {
            for (unsigned k = 0; k < pieces; ++k)
                for (int v = 0; v < W; v += V::lanes)
                    V::store(piece[k] + v, V::bits(a, (i + v) * b + 48 * k, b, k + 1 == pieces ? top : full));
        } else {
            for (int lane = 0; lane < W; ++lane) {
                const std::size_t c = i + lane;
                for (unsigned k = 0; k < pieces; ++k) {
                    const std::uint64_t bits =
                        c < chunks ? bits_at(a, an, c * b + 48 * k, k + 1 == pieces ? last : 48) : 0;
                    piece[k][lane] = static_cast<double>(static_cast<std::int64_t>(bits));
                }
            }
        }
        for (int q = 0; q < count; ++q) {
            const Mod m(*primes[q]);
            for (int v = 0; v < W; v += V::lanes) {
                V sum = V::load(piece[0] + v);
                for (unsigned k = 1; k < pieces; ++k)
                    sum = V::add(sum, m.mulmod(V::load(piece[k] + v), V::set1(primes[q]->pow48[k])));
                V::store(out[q] + padded(i, column_bits) + v, m.reduce(sum));
            }
        }
        if (((i + W) & row_end) == 0)
            for (int q = 0; q < count; ++q) zero_group(out[q] + padded(i, column_bits) + W);
    }
    for (; i < to; i += W)
        for (int q = 0; q < count; ++q) {
            double* at = out[q] + padded(i, column_bits);
            zero_group(at);
            if (((i + W) & row_end) == 0) zero_group(at + W);
        }
}

// y_q = (...((r_q - y_0) / p_0 - y_1) / p_1 ... - y_{q-1}) / p_{q-1} mod p_q:
// each difference, of magnitude below p_q + 2^50 < 3 p_q, goes straight into
// its product by the signed inverse (|.| <= p_q / 2), within mulmod's bound;
// the last residue is moved into [0, p_q).
void garner(double* const* r, int np, const Prime* primes, std::size_t from, std::size_t to, int column_bits) {
    for (std::size_t i = from; i < to; i += V::lanes) {
        const std::size_t at = padded(i, column_bits);  // lanes never straddle a row
        V y[MAX_PRIMES];
        for (int q = 0; q < np; ++q) {
            const Mod m(primes[q]);
            V t = V::load(r[q] + at);
            for (int j = 0; j < q; ++j) t = m.mulmod(V::sub(t, y[j]), V::set1(primes[q].inv_below[j]));
            y[q] = V::add_if_negative(t, m.p);
            V::store(r[q] + at, y[q]);
        }
    }
}

}  // namespace

const Kernels kernels = {NTT_ISA_NAME, load, columns, rows, row_products, garner};

}  // namespace NTT_ISA
}  // namespace mul
