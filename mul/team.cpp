// Teams of threads: the helpers kept for the process's life, their pool,
// the count of threads at work, and the waits.

#include "team.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <thread>

namespace mul {

namespace {

// Threads at work now (the process's first thread counts as one) and the
// most at once.
std::atomic<int> at_work{1}, most_at_work{1};

void add_at_work(int threads) {
    const int now = at_work += threads;
    for (int most = most_at_work.load(); now > most && !most_at_work.compare_exchange_weak(most, now);) {
    }
}

// Waits that are usually short spin for up to SPIN_MICROSECONDS before they
// sleep: a sleeping thread on a virtual machine can take a fifth of a
// millisecond to wake, longer than the waits inside a product. A spin pays
// only while every thread at work has a core: a thread spinning for one
// that waits for a core keeps it from that core, and every barrier then
// costs the whole spin.
constexpr int SPIN_MICROSECONDS = 200;

bool spinning_pays() { return at_work.load(std::memory_order_relaxed) <= affinity_cores(); }

template <class Ready>
bool spin_until(Ready ready) {
    if (!spinning_pays()) return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(SPIN_MICROSECONDS);
    do {
        for (int i = 0; i < 64; ++i) {
            if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// Thrown by barrier() in the members of a team that another member's
// exception has ended; never leaves the team.
struct Abandoned {};

}  // namespace

// One kept thread, running one job at a time.
class Helper {
public:
    using Job = void (*)(void* context, int t);

    // An idle helper, or a new one; null where no thread can start.
    static Helper* take();
    // Back among the idle ones, its job done.
    static void give_back(Helper* helper);

    void start(Job job, void* context, int t) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = job;
            context_ = context;
            t_ = t;
            busy_ = true;
        }
        wake_.notify_one();
    }

    // Waits for the job's end; what it threw, if anything.
    std::exception_ptr wait() {
        const auto done = [&] { return !busy_.load(std::memory_order_acquire); };
        if (!spin_until(done)) {
            std::unique_lock<std::mutex> lock(mutex_);
            done_.wait(lock, done);
        }
        std::exception_ptr failure = failure_;
        failure_ = nullptr;
        return failure;
    }

private:
    void serve() {
        for (;;) {
            const auto given = [&] { return busy_.load(std::memory_order_acquire); };
            std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
            if (!spin_until(given)) {
                lock.lock();
                wake_.wait(lock, given);
                lock.unlock();
            }
            try {
                job_(context_, t_);
            } catch (...) {
                failure_ = std::current_exception();
            }
            lock.lock();
            busy_.store(false, std::memory_order_release);
            lock.unlock();
            done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    Job job_ = nullptr;
    void* context_ = nullptr;
    int t_ = 0;
    std::exception_ptr failure_;
    std::atomic<bool> busy_{false};
};

namespace {

// The idle helpers. They live as long as the process: never destroyed, so
// that none is torn down under a thread still waiting on it at exit. A
// forked child keeps only the thread that forked: it starts with none idle
// (the parent's stay listed in the parent alone), and with the pool's lock
// free, as prepare_fork took it for the fork.
struct Pool {
    std::mutex mutex;
    std::vector<Helper*> idle;
};

Pool& pool();
void prepare_fork() { pool().mutex.lock(); }
void parent_after_fork() { pool().mutex.unlock(); }
void child_after_fork() {
    Pool& p = pool();
    p.idle.clear();
    at_work = 1;
    p.mutex.unlock();
}

Pool& pool() {
    static Pool* const made = [] {
        Pool* p = new Pool;
        pthread_atfork(prepare_fork, parent_after_fork, child_after_fork);
        return p;
    }();
    return *made;
}

}  // namespace

Helper* Helper::take() {
    Pool& p = pool();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (!p.idle.empty()) {
            Helper* helper = p.idle.back();
            p.idle.pop_back();
            return helper;
        }
    }
    Helper* helper = nullptr;
    try {
        helper = new Helper;
        std::thread([helper] { helper->serve(); }).detach();
        return helper;
    } catch (const std::exception&) {
        delete helper;  // its thread did not start
        return nullptr;
    }
}

void Helper::give_back(Helper* helper) {
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    try {
        p.idle.push_back(helper);
    } catch (const std::exception&) {
        // No room to list it: it stays asleep, unused.
    }
}

int affinity_cores() {
    static const int cores = [] {
#ifdef CPU_COUNT
        cpu_set_t set;
        if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
        const unsigned n = std::thread::hardware_concurrency();
        return n > 0 ? static_cast<int>(n) : 1;
    }();
    return cores;
}

int most_threads_at_work() { return most_at_work; }
void forget_threads_at_work() { most_at_work = at_work.load(); }

Team::Team(int wanted) {
    if (wanted < 1) wanted = 1;
    try {
        helpers_.reserve(static_cast<std::size_t>(wanted - 1));
    } catch (const std::exception&) {
    }
    while (static_cast<int>(helpers_.size()) + 1 < wanted && helpers_.size() < helpers_.capacity()) {
        Helper* helper = Helper::take();
        if (!helper) break;
        helpers_.push_back(helper);
    }
    size_ = 1 + static_cast<int>(helpers_.size());
}

Team::~Team() {
    for (Helper* helper : helpers_) Helper::give_back(helper);
}

void Team::launch(Job job, void* context) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = false;
        waiting_ = 0;
    }
    struct Member {
        Team* team;
        Job job;
        void* context;
    } member{this, job, context};
    // A member's exception abandons the team's work, so that no member waits
    // at a barrier for it; the others' Abandoned is no failure of their own.
    const Job guarded = [](void* m, int t) {
        const Member* x = static_cast<const Member*>(m);
        try {
            x->job(x->context, t);
        } catch (const Abandoned&) {
        } catch (...) {
            x->team->abandon();
            throw;
        }
    };
    const int helpers = size_ - 1;
    add_at_work(helpers);
    for (int i = 0; i < helpers; ++i) helpers_[static_cast<std::size_t>(i)]->start(guarded, &member, i + 1);
    // The helpers read `member` until they are done: wait for them even
    // where this thread's part throws.
    std::exception_ptr failure;
    try {
        guarded(&member, 0);
    } catch (...) {
        failure = std::current_exception();
    }
    for (Helper* helper : helpers_) {
        const std::exception_ptr theirs = helper->wait();
        if (theirs && !failure) failure = theirs;
    }
    add_at_work(-helpers);
    if (failure) std::rethrow_exception(failure);
}

void Team::abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
    }
    wake_.notify_all();
}

void Team::barrier() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (abandoned_) throw Abandoned{};
    const unsigned long generation = generation_.load(std::memory_order_relaxed);
    if (++waiting_ == size_) {
        waiting_ = 0;
        generation_.store(generation + 1, std::memory_order_release);
        lock.unlock();
        wake_.notify_all();
        return;
    }
    lock.unlock();
    const auto passed = [&] { return generation_.load(std::memory_order_acquire) != generation; };
    if (spin_until(passed)) return;
    lock.lock();
    wake_.wait(lock, [&] { return passed() || abandoned_; });
    if (!passed()) throw Abandoned{};
}

}  // namespace mul
