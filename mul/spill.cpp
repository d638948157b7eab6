#include "spill.h"

#include <string>

#include "mul.h"
#include "out_of_core.h"

namespace mul {

namespace {

std::string directory;
std::size_t budget = 0;
// Set while a product on disk makes its parts in memory: those never spill.
thread_local bool on_disk = false;

}  // namespace

void spill_products(const char* dir, std::size_t bytes) {
    directory = dir ? dir : "";
    budget = dir ? bytes : 0;
}

bool spills(std::size_t an, std::size_t bn, int threads) {
    if (budget == 0 || on_disk || !uses_transform(an, bn)) return false;
    return scratch_bytes(an, bn, threads) + (an + bn) * sizeof(mp_limb_t) > budget;
}

void spilled_product(mp_limb_t* r, const mp_limb_t* a, std::size_t an, const mp_limb_t* b, std::size_t bn,
                     int threads, std::size_t low) {
    struct OnDisk {
        OnDisk() { on_disk = true; }
        ~OnDisk() { on_disk = false; }
    } scope;
    Stored sa(directory, an);
    sa.write(0, an, a);
    const Span first{&sa, 0, an};
    Stored product(directory, an + bn);
    if (b == nullptr) {
        mul_stored(product, first, first, {budget, threads});
    } else {
        Stored sb(directory, bn);
        sb.write(0, bn, b);
        mul_stored(product, first, {&sb, 0, bn}, {budget, threads});
    }
    product.read(static_cast<std::ptrdiff_t>(low), an + bn - low, r);
}

}  // namespace mul
