// Teams of threads where a library meets trouble: a team smaller than asked
// for (threads that cannot start) still makes GMP's products; an exception
// in any member's work reaches the caller, even while the others wait at a
// barrier; a forked child makes threaded products with threads of its own.

#include <dlfcn.h>
#include <gmp.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <stdexcept>
#include <vector>

#include "mul.h"
#include "team.h"

namespace {

// Thread starts left before pthread_create fails as it does at a process's
// or control group's thread limit; -1: no limit.
std::atomic<int> starts_left{-1};

// Operands of n words from a fixed seed, and GMP's product of them.
struct Case {
    std::vector<mp_limb_t> a, b, product;
    explicit Case(std::size_t n) : a(n), b(n), product(2 * n) {
        gmp_randstate_t state;
        gmp_randinit_default(state);
        gmp_randseed_ui(state, 20261210);
        mpn_random2(a.data(), static_cast<mp_size_t>(n));
        mpn_random2(b.data(), static_cast<mp_size_t>(n));
        a[n - 1] |= 1;
        b[n - 1] |= 1;
        gmp_randclear(state);
        mpn_mul_n(product.data(), a.data(), b.data(), static_cast<mp_size_t>(n));
    }
};

// Whether the engine's product on `threads` threads is GMP's and passed its
// check at once.
bool right_product(const Case& c, int threads) {
    const std::uint64_t failed = mul::failed_checks();
    std::vector<mp_limb_t> r(c.product.size());
    mul::mul(r.data(), c.a.data(), c.a.size(), c.b.data(), c.b.size(), threads);
    return r == c.product && mul::failed_checks() == failed;
}

}  // namespace

// Stands in for the system's, so that a start can fail on request.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create system_create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    for (int left = starts_left.load(); left >= 0; left = starts_left.load()) {
        if (left == 0) return EAGAIN;
        if (starts_left.compare_exchange_weak(left, left - 1)) break;
    }
    return system_create(thread, attributes, start, argument);
}

TEST(Team, ProductsAreGmpsWhenFewerThreadsStartThanAsked) {
    // Long enough that the team takes the primes a thread each and the other
    // operand's transforms are not all kept at once.
    const Case c(100000);
    const mul::Shape shape = mul::shape(100000, 100000);
    ASSERT_GE(shape.log2_length, 16);
    ASSERT_LT(shape.log2_length, 24);
    ASSERT_LT(shape.primes, 8);
    mul::forget_threads_at_work();
    starts_left = 1;  // one helper more than are idle now, then none
    int right = 0;
    for (int i = 0; i < 4; ++i) right += right_product(c, 16);
    starts_left = -1;
    EXPECT_EQ(right, 4);
    EXPECT_GE(mul::most_threads_at_work(), 2);
    EXPECT_LT(mul::most_threads_at_work(), 16);
}

TEST(Team, AnExceptionInAnyMemberReachesTheCaller) {
    mul::Team team(3);
    ASSERT_EQ(team.size(), 3);
    // A helper's, while the others wait at a barrier it never reaches.
    EXPECT_THROW(team.run([&](int t, int) {
        if (t == 1) throw std::bad_alloc();
        team.barrier();
    }),
                 std::bad_alloc);
    // The caller's own, while the helpers wait at a barrier.
    EXPECT_THROW(team.run([&](int t, int) {
        if (t == 0) throw std::runtime_error("no memory");
        team.barrier();
        team.barrier();
    }),
                 std::runtime_error);
    // The team works again afterwards.
    std::atomic<int> sum{0};
    team.run([&](int t, int size) {
        team.barrier();
        sum += t + size;
    });
    EXPECT_EQ(sum, 0 + 1 + 2 + 3 * 3);
}

TEST(Team, AForkedChildMakesThreadedProducts) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not follow threads started after a fork";
#else
    const Case c(20000);
    ASSERT_GT(mul::threads_for(20000, 20000, 2), 1);
    ASSERT_TRUE(right_product(c, 2));  // the parent's helpers now wait, idle
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);  // a hang ends the child
        _exit(right_product(c, 2) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the child hung or crashed: signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}
