#pragma once
// A node's three integers, created and released with the node.

#include <gmp.h>

struct SplitNode {
    mpz_t p, q, g;
    SplitNode() { mpz_inits(p, q, g, nullptr); }
    ~SplitNode() { mpz_clears(p, q, g, nullptr); }
    SplitNode(const SplitNode&) = delete;
    SplitNode& operator=(const SplitNode&) = delete;
};
