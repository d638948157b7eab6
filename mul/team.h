#pragma once
// A team of threads for one product: run(work) calls work(t, size) for
// t < size on `size` threads, t = 0 on the calling one, and returns when all
// are done; barrier() inside work waits for the whole team. size is how many
// threads could start, at most the number asked for: where a thread cannot
// start (none left, no memory), the team is smaller and the work is shared
// among those that did.

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace mul {

class Team {
public:
    explicit Team(int wanted) : wanted_(wanted < 1 ? 1 : wanted) {}

    template <class Work>
    void run(Work work) {
        std::vector<std::thread> helpers;
        for (int t = 1; t < wanted_; ++t) {
            try {
                helpers.emplace_back([this, &work, t] {
                    wait_for_start();
                    work(t, size_);
                });
            } catch (const std::exception&) {
                break;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            size_ = 1 + static_cast<int>(helpers.size());
            started_ = true;
        }
        wake_.notify_all();
        work(0, size_);
        for (std::thread& helper : helpers) helper.join();
    }

    void barrier() {
        std::unique_lock<std::mutex> lock(mutex_);
        const unsigned long generation = generation_;
        if (++waiting_ == size_) {
            waiting_ = 0;
            ++generation_;
            lock.unlock();
            wake_.notify_all();
        } else {
            wake_.wait(lock, [&] { return generation_ != generation; });
        }
    }

private:
    void wait_for_start() {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return started_; });
    }

    int wanted_, size_ = 1, waiting_ = 0;
    bool started_ = false;
    unsigned long generation_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
};

// Part t of `parts` of [0, n), in whole units of `unit`.
inline std::size_t share_start(std::size_t n, int t, int parts, std::size_t unit = 1) {
    return (n / unit * static_cast<std::size_t>(t) / static_cast<std::size_t>(parts)) * unit;
}

}  // namespace mul
