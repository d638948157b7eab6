#pragma once
// A 64-bit checksum of a byte stream at memory speed, for files a run
// writes and reads back: the stream, cut into 64-bit little-endian words
// (the last one padded with zeros, the length added at the end), as the
// polynomial sum of w_i x^(n-i) modulo the prime 2^61 - 1 at a fixed x,
// evaluated in four independent lanes. Damage that changes the words
// passes only where it is a root of a nonzero polynomial of degree below
// n, about n / 2^61 for damage that does not depend on x.

#include <cstddef>
#include <cstdint>
#include <string>

class Checksum {
public:
    void update(const void* data, std::size_t size);
    // The sum; the object is spent.
    std::uint64_t finish_value();
    // The sum as 16 lowercase hexadecimal digits; the object is spent.
    std::string finish();

private:
    void words(const unsigned char* p, std::size_t count);  // count a multiple of 4
    std::uint64_t lane_[4] = {1, 2, 3, 4};
    unsigned char pending_[32];
    std::size_t held_ = 0;  // bytes in pending_
    std::uint64_t bytes_ = 0;
};
