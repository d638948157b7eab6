#pragma once
// A team of threads for one product: run(work) calls work(t, size) for
// t < size on `size` threads, t = 0 on the calling one, and returns when all
// are done; barrier() inside work waits for the whole team. size is how many
// threads could join, at most the number asked for: where a thread cannot
// start (none left, no memory), the team is smaller and the work is shared
// among those that did.
//
// The other members are helper threads kept for the process's life: a team
// takes idle ones, starting new ones only where none is idle, and hands
// them back when its work is done. Starting and joining a thread costs about
// 50 microseconds, a tenth of a product that two threads make in a
// millisecond; waking an idle one costs a few.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace mul {

// Waits that are usually short spin for up to SPIN_MICROSECONDS before they
// sleep: a sleeping thread on a virtual machine can take a fifth of a
// millisecond to wake, longer than the waits inside a product.
constexpr int SPIN_MICROSECONDS = 200;

template <class Ready>
bool spin_until(Ready ready) {
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

    void wait() {
        if (spin_until([&] { return !busy_.load(std::memory_order_acquire); })) return;
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return !busy_.load(std::memory_order_acquire); });
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
            job_(context_, t_);
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
    std::atomic<bool> busy_{false};
};

// Helpers live as long as the process: they are never destroyed, so that
// none is torn down under a thread still waiting on it at exit.
inline std::mutex& idle_mutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
inline std::vector<Helper*>& idle_helpers() {
    static std::vector<Helper*>* idle = new std::vector<Helper*>;
    return *idle;
}

inline Helper* Helper::take() {
    {
        std::lock_guard<std::mutex> lock(idle_mutex());
        std::vector<Helper*>& idle = idle_helpers();
        if (!idle.empty()) {
            Helper* helper = idle.back();
            idle.pop_back();
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

inline void Helper::give_back(Helper* helper) {
    std::lock_guard<std::mutex> lock(idle_mutex());
    try {
        idle_helpers().push_back(helper);
    } catch (const std::exception&) {
        // No room to list it: it stays asleep, unused.
    }
}

class Team {
public:
    explicit Team(int wanted) : wanted_(wanted < 1 ? 1 : wanted) {}

    template <class Work>
    void run(Work work) {
        std::vector<Helper*> helpers;
        try {
            helpers.reserve(static_cast<std::size_t>(wanted_ - 1));
        } catch (const std::exception&) {
        }
        while (static_cast<int>(helpers.size()) + 1 < wanted_ && helpers.size() < helpers.capacity()) {
            Helper* helper = Helper::take();
            if (!helper) break;
            helpers.push_back(helper);
        }
        size_ = 1 + static_cast<int>(helpers.size());
        struct Context {
            Work* work;
            int size;
        } context{&work, size_};
        const Helper::Job job = [](void* c, int t) {
            const Context* shared = static_cast<const Context*>(c);
            (*shared->work)(t, shared->size);
        };
        for (std::size_t i = 0; i < helpers.size(); ++i) helpers[i]->start(job, &context, static_cast<int>(i) + 1);
        // The helpers read `work` until they are done: wait for them even
        // where this thread's part throws.
        std::exception_ptr failure;
        try {
            work(0, size_);
        } catch (...) {
            failure = std::current_exception();
        }
        for (Helper* helper : helpers) {
            helper->wait();
            Helper::give_back(helper);
        }
        if (failure) std::rethrow_exception(failure);
    }

    void barrier() {
        std::unique_lock<std::mutex> lock(mutex_);
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
        wake_.wait(lock, passed);
    }

private:
    int wanted_, size_ = 1, waiting_ = 0;
    std::atomic<unsigned long> generation_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
};

// Part t of `parts` of [0, n), in whole units of `unit`.
inline std::size_t share_start(std::size_t n, int t, int parts, std::size_t unit = 1) {
    return (n / unit * static_cast<std::size_t>(t) / static_cast<std::size_t>(parts)) * unit;
}

}  // namespace mul
