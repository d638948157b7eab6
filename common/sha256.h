#pragma once
// SHA-256 (FIPS 180-4), for the summary line of a digits file: the hash
// sha256sum prints for it, so that a user can compare a run with others.

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    void update(const void* data, std::size_t size);
    // The 64 lowercase hexadecimal digits of the hash of everything
    // updated; the object is spent.
    std::string finish();

private:
    void block(const unsigned char* p);
    std::uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char buffer_[64];
    std::size_t used_ = 0;
    std::uint64_t bytes_ = 0;
};
