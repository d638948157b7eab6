#include "checksum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr std::uint64_t M = (std::uint64_t{1} << 61) - 1;
// The point each lane's polynomial is taken at: x^4 in every lane, since a
// lane takes every fourth word; the lanes are joined at the end by x^3,
// x^2, x, 1.
constexpr std::uint64_t X = 0x1d3f5c7a9b2e4d61 & M;

std::uint64_t reduce(std::uint64_t v) {
    v = (v & M) + (v >> 61);
    return v >= M ? v - M : v;
}

std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
    const u128 p = static_cast<u128>(a) * b;
    const std::uint64_t lo = static_cast<std::uint64_t>(p) & M, hi = static_cast<std::uint64_t>(p >> 61);
    return reduce(lo + hi);
}

const std::uint64_t X2 = mul(X, X), X3 = mul(X2, X), X4 = mul(X2, X2);

}  // namespace

void Checksum::words(const unsigned char* p, std::size_t count) {
    const auto word = [p](std::size_t i) {
        std::uint64_t w;
        std::memcpy(&w, p + 8 * i, 8);  // the bytes need not be aligned
        return reduce(w);
    };
    std::uint64_t a = lane_[0], b = lane_[1], c = lane_[2], d = lane_[3];
    for (std::size_t i = 0; i + 4 <= count; i += 4) {
        a = reduce(mul(a, X4) + word(i));
        b = reduce(mul(b, X4) + word(i + 1));
        c = reduce(mul(c, X4) + word(i + 2));
        d = reduce(mul(d, X4) + word(i + 3));
    }
    lane_[0] = a;
    lane_[1] = b;
    lane_[2] = c;
    lane_[3] = d;
}

void Checksum::update(const void* data, std::size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    bytes_ += size;
    if (held_ > 0) {
        const std::size_t take = std::min(size, sizeof pending_ - held_);
        std::memcpy(pending_ + held_, p, take);
        held_ += take;
        p += take;
        size -= take;
        if (held_ < sizeof pending_) return;
        words(pending_, 4);
        held_ = 0;
    }
    const std::size_t whole = size / sizeof pending_ * sizeof pending_;
    words(p, whole / 8);
    p += whole;
    size -= whole;
    std::memcpy(pending_, p, size);
    held_ = size;
}

std::uint64_t Checksum::finish_value() {
    unsigned char last[64] = {};
    std::memcpy(last, pending_, held_);
    std::memcpy(last + 32, &bytes_, 8);  // the length, so that trailing zeros count
    words(last, 8);
    return reduce(mul(lane_[0], X3) + reduce(mul(lane_[1], X2) + reduce(mul(lane_[2], X) + lane_[3])));
}

std::string Checksum::finish() {
    const std::uint64_t sum = finish_value();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(sum));
    return text;
}
